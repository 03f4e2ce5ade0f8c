#pragma once

#include <cstddef>
#include <span>

#include "engine/cr_joins.h"

namespace vorpex {

// Supplies the input one line at a time.
class LineSource {
 public:
  virtual ~LineSource() = default;
  // Sets `line` to the next line's text, without its line end, and returns true; returns false at
  // the end of the input (or when reading failed; the source keeps the reason). The text is
  // writable and stays valid until the next call, and the byte just past it is a NUL.
  virtual bool next_line(std::span<char>& line) = 0;

  // Sets `lines` to the next run of whole lines, each ended by its LF, and returns true; returns
  // false when no whole line is at hand (a line longer than the source holds at once, the last
  // line without its LF, the end of the input), which next_line() then gives. A CR stands as the
  // source holds it, to be dropped wherever it stands. The text is writable and stays valid until
  // the next call; kBlockPadding bytes past it may be read (never written), whatever they hold.
  // Sources that do not offer runs of lines return false always.
  virtual bool next_lines(std::span<char>& lines) {
    (void)lines;
    return false;
  }

  // The CRs that ended no line in what was handed on so far, or nothing where the source does
  // not count them. The same object throughout, so that it can be read after each call.
  virtual const CrJoins* cr_joins() const { return nullptr; }
};

inline constexpr std::size_t kLinePadding = 16;
inline constexpr std::size_t kBlockPadding = 64;

}  // namespace vorpex

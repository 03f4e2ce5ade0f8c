#pragma once

#include <cstddef>
#include <span>

namespace vorpex {

// Supplies the input one line at a time.
class LineSource {
 public:
  virtual ~LineSource() = default;
  // Sets `line` to the next line's text, without its line end, and returns true; returns false at
  // the end of the input (or when reading failed; the source keeps the reason). The text is
  // writable and stays valid until the next call, and the byte just past it is a NUL.
  virtual bool next_line(std::span<char>& line) = 0;

  // How many bytes past every line's NUL may be read (never written); their values are
  // unspecified. The fast line path reads whole blocks of 16 bytes in place when there are at
  // least kLinePadding of them, and copies each line first otherwise.
  virtual std::size_t readable_padding() const { return 0; }
};

inline constexpr std::size_t kLinePadding = 16;

}  // namespace vorpex

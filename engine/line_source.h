#pragma once

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
};

}  // namespace vorpex

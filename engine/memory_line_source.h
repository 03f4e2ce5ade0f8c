#pragma once

#include <cstddef>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "engine/byte_sink.h"
#include "engine/line_source.h"

namespace vorpex {

// Lines from memory, for the front ends and tools that hold the whole source.

// The text the engine would see from a file read in text mode: every CR byte removed, and nothing
// from the first byte 0x1A on.
inline std::string to_text_mode(std::string_view file_bytes) {
  std::string text;
  text.reserve(file_bytes.size());
  for (char c : file_bytes) {
    if (c == '\x1a') break;
    if (c != '\r') text += c;
  }
  return text;
}

// Serves the lines of a text held in one mutable buffer, split on LF: each LF is overwritten with
// the NUL that ends its line, so nothing is copied. The byte just past the text must be writable
// (std::string's terminator is): the last line's NUL goes there when the text does not end in LF.
// The buffer is changed (the LFs, and whatever the engine upper-cases in place), so a second pass
// needs a fresh copy of the text.
// `padding` bytes past the text (past the byte just after it) may be read, as the file reader
// allows.
class BufferLineSource : public LineSource {
 public:
  explicit BufferLineSource(std::span<char> text, std::size_t padding = 0)
      : next_(text.data()), end_(text.data() + text.size()), padding_(padding) {}
  explicit BufferLineSource(std::string& text) : BufferLineSource(std::span<char>(text)) {}

  bool next_line(std::span<char>& line) override {
    if (next_ == end_) return false;
    char* first = next_;
    char* lf = static_cast<char*>(std::memchr(first, '\n', static_cast<std::size_t>(end_ - first)));
    char* last = lf != nullptr ? lf : end_;
    *last = '\0';
    next_ = lf != nullptr ? lf + 1 : end_;
    line = {first, static_cast<std::size_t>(last - first)};
    return true;
  }
  // Every whole line left, when the padding allows reading them a window at a time.
  bool next_lines(std::span<char>& lines) override {
    if (padding_ < kBlockPadding) return false;
    const std::string_view rest(next_, static_cast<std::size_t>(end_ - next_));
    const std::size_t last = rest.rfind('\n');
    if (last == std::string_view::npos) return false;
    lines = {next_, last + 1};
    next_ += last + 1;
    return true;
  }

 private:
  char* next_;
  char* end_;
  std::size_t padding_;
};

}  // namespace vorpex

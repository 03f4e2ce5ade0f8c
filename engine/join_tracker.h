#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "engine/char_class.h"
#include "engine/output_buffer.h"
#include "engine/tokenizer.h"

namespace vorpex {

// The last line whose leading number was joined to the next output line, until a number that
// begins a later line tells whether anything was written between the two.
class JoinTracker {
 public:
  bool is_open() const { return line_ != 0; }
  void close() { line_ = 0; }

  // The line `line`, whose output began at `line_start` (a value of out.total()), just wrote its
  // joining blank.
  void open(std::int64_t line, const OutputBuffer& out, std::uint64_t line_start);
  // True when nothing was written between the joining blank and `position` in `out`.
  bool follows(const OutputBuffer& out, const char* position) const {
    return out.total_at(position) == end_;
  }
  // A line that the fast path converted: a number that begins it closes the open join (something
  // was written before it), and a line that ended with the joining blank opens one.
  void fast_line_converted(std::span<const char> text, std::int64_t line, const OutputBuffer& out,
                           std::uint64_t line_start) {
    if (is_open() && begins_with_digit(text)) close();
    if (!out.at_line_start()) open(line, out, line_start);
  }
  // `number` begins a line and is about to be written at `position`: reports it as joined when
  // nothing came between, and closes the join.
  void number_begins_line(const OutputBuffer& out, const char* position, std::string_view number,
                          TokenReports& reports);
  // Reports `number`, found at the `length` bytes at `at` of the line, as joined to the open one.
  void report(TokenReports& reports, const char* at, std::size_t length,
              std::string_view number) const;

 private:
  // True when the line's first byte after its blanks is a digit: its first token is a Number.
  static bool begins_with_digit(std::span<const char> text) {
    for (const char c : text) {
      if (!char_class::has(c, char_class::kBlank)) return char_class::has(c, char_class::kDigit);
    }
    return false;
  }

  std::int64_t line_ = 0;  // 0 when none is open
  std::uint64_t end_ = 0;  // the output's size just after the joining blank
  char number_[41] = {};   // its number as written: 40 bytes, and one to tell that more followed
  std::size_t number_size_ = 0;
};

}  // namespace vorpex

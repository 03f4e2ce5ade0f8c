#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "engine/fast_block.h"
#include "engine/output_buffer.h"
#include "engine/tokenizer.h"

namespace vorpex {

// The last line whose leading number was joined to the next output line, until a number that
// begins a later line tells whether anything was written between the two.
class JoinTracker {
 public:
  bool is_open() const { return line_ != 0; }
  void close() { line_ = 0; }
  // Closes a join that something was written after: no later number can be joined to it, and a
  // later line's number would only close it.
  bool pending(const OutputBuffer& out) {
    if (line_ != 0 && out.total() != end_) line_ = 0;
    return line_ != 0;
  }

  // For a run that goes on from where another stood: the line that opened the join and the
  // output's size after its blank; the same join with its line and output moved; and whether two
  // joins would report alike (the same number, comment and word).
  std::int64_t line() const { return line_; }
  std::uint64_t end() const { return end_; }
  void move_to(std::int64_t line, std::uint64_t end) {
    line_ = line;
    end_ = end;
  }
  bool same_words(const JoinTracker& other) const;

  // The line `line`, whose output began at `line_start` (a value of out.total()), just wrote its
  // joining blank.
  void open(std::int64_t line, const OutputBuffer& out, std::uint64_t line_start);
  // The join just opened came from an apostrophe at 1-based `column` that the user meant inside a
  // string: a double quote before it went into `word` instead of opening that string. The joined
  // number's warning gets a note that points there.
  void opened_by_comment(std::size_t column, std::string_view word);
  // True when nothing was written between the joining blank and `position` in `out`.
  bool follows(const OutputBuffer& out, const char* position) const {
    return out.total_at(position) == end_;
  }
  // A line that the fast path converted, whose output began at `line_start`, as `lead` tells of
  // it: a number that begins it closes the open join, reported as joined when nothing was written
  // since the join; a REM after a statement is reported; a line that ended with the joining blank
  // opens a join.
  void fast_line_converted(std::span<const char> text, const fast_block::JoinFacts& lead,
                           std::int64_t line, const OutputBuffer& out, std::uint64_t line_start,
                           TokenReports& reports);
  // `number` begins a line and is about to be written at `position`: reports it as joined when
  // nothing came between, and closes the join.
  void number_begins_line(const OutputBuffer& out, const char* position, std::string_view number,
                          TokenReports& reports);
  // Reports `number`, found at the `length` bytes at `at` of the line, as joined to the open one.
  void report(TokenReports& reports, const char* at, std::size_t length,
              std::string_view number) const;

 private:
  std::int64_t line_ = 0;  // 0 when none is open
  std::uint64_t end_ = 0;  // the output's size just after the joining blank
  char number_[41] = {};   // its number as written: 40 bytes, and one to tell that more followed
  std::size_t number_size_ = 0;
  std::size_t comment_column_ = 0;  // the apostrophe that opened the join, 0 when none did
  char word_[41] = {};              // the word that took the quote before it, as number_ is kept
  std::size_t word_size_ = 0;
};

}  // namespace vorpex

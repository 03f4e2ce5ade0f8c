#include "engine/join_tracker.h"

#include <algorithm>
#include <cstring>

namespace vorpex {

// Out of line, as the rest: joins are rare, and the token loop that calls these stays small.
[[gnu::noinline]] void JoinTracker::open(std::int64_t line, const OutputBuffer& out,
                                         std::uint64_t line_start) {
  line_ = line;
  end_ = out.total();
  comment_column_ = 0;
  // The line's output begins with its number, up to a blank.
  bool whole = false;
  std::string_view number = out.since(line_start, whole);
  number = number.substr(0, number.find(' '));
  number_size_ = std::min(number.size(), sizeof number_);
  if (number_size_ != 0) std::memcpy(number_, number.data(), number_size_);
}

bool JoinTracker::same_words(const JoinTracker& other) const {
  return std::string_view(number_, number_size_) ==
             std::string_view(other.number_, other.number_size_) &&
         comment_column_ == other.comment_column_ &&
         std::string_view(word_, word_size_) == std::string_view(other.word_, other.word_size_);
}

void JoinTracker::opened_by_comment(std::size_t column, std::string_view word) {
  comment_column_ = column;
  word_size_ = std::min(word.size(), sizeof word_);
  if (word_size_ != 0) std::memcpy(word_, word.data(), word_size_);
}

[[gnu::noinline]] void JoinTracker::number_begins_line(const OutputBuffer& out,
                                                       const char* position,
                                                       std::string_view number,
                                                       TokenReports& reports) {
  if (follows(out, position)) report(reports, number.data(), number.size(), number);
  close();
}

[[gnu::noinline]] void JoinTracker::report(TokenReports& reports, const char* at,
                                           std::size_t length, std::string_view number) const {
  reports.report(DiagnosticKind::NumberJoined, at, length, TokenKind::Number, number, line_,
                 {number_, number_size_});
  if (comment_column_ != 0)
    reports.deliver_note(DiagnosticKind::NumberJoined, line_, comment_column_, {word_, word_size_});
}

[[gnu::noinline]] void JoinTracker::fast_line_converted(std::span<const char> text,
                                                        const fast_block::JoinFacts& lead,
                                                        std::int64_t line, const OutputBuffer& out,
                                                        std::uint64_t line_start,
                                                        TokenReports& reports) {
  if (is_open() && lead.length != 0) {
    if (line_start == end_) {
      const char* const at = text.data() + lead.start;
      reports.start_line(text.data(), line);
      report(reports, at, lead.length,
             lead.value.empty() ? std::string_view(at, lead.length) : lead.value);
    }
    close();
  }
  if (lead.rem != 0) {
    // A REM after a statement: the next line continues this one.
    reports.start_line(text.data(), line);
    reports.report(DiagnosticKind::RemJoinsNextLine, text.data() + lead.rem, 3);
  } else if (!out.at_line_start() && out.total() != line_start) {
    // A line that wrote nothing leaves the output as it was.
    open(line, out, line_start);
  }
}

}  // namespace vorpex

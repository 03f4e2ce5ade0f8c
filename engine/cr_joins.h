#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vorpex {

// The CRs that end no line: a CR, or a run of CRs, that a byte other than LF follows on its line.
// The converter drops every CR, so the text after each continues the line before it, where an
// editor shows two lines. A line source counts them in what it hands on; the first is told by
// where it stands in the piece (lines or a line) that held it.
struct CrJoins {
  std::uint64_t count = 0;
  // With a count: the first's piece held `lines_before` whole lines before its line, and the text
  // after it begins at 1-based byte `column` of that line as the converter reads it (without CRs).
  std::int64_t lines_before = 0;
  std::size_t column = 0;

  // Counts those of `piece`, whose first byte begins a line; a CR at its end, or before an LF,
  // ends a line (or the input) and is not counted.
  void scan(std::string_view piece) {
    std::size_t cr = piece.find('\r');
    while (cr != std::string_view::npos) {
      std::size_t after = cr + 1;
      while (after < piece.size() && piece[after] == '\r')
        ++after;
      if (after < piece.size() && piece[after] != '\n') {
        if (count == 0) {
          // No CR stands before the run on its line: it would have been counted first.
          const std::size_t line_start = piece.rfind('\n', cr) + 1;  // 0 when there is none
          lines_before = 0;
          for (std::size_t i = 0; i < line_start; ++i)
            lines_before += piece[i] == '\n' ? 1 : 0;
          column = cr - line_start + 1;
        }
        ++count;
      }
      cr = piece.find('\r', after);
    }
  }
};

}  // namespace vorpex

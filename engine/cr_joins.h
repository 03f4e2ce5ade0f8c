#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/diagnostic.h"
#include "engine/simd.h"

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
  // ends a line (or the input) and is not counted. The reference for scan_run().
  void scan(std::string_view piece) {
    std::size_t cr = piece.find('\r');
    while (cr != std::string_view::npos) {
      std::size_t after = cr + 1;
      while (after < piece.size() && piece[after] == '\r')
        ++after;
      if (after < piece.size() && piece[after] != '\n') found(piece, cr);
      cr = piece.find('\r', after);
    }
  }

  // The same for a run of whole lines, each ended by its LF: the CRs a step at a time, so that
  // CR LF line ends cost little, and the last bytes, fewer than a step, one at a time (no byte past
  // the run is read).
  void scan_run(std::string_view run, simd::Level level) {
    if (run.find('\r') == std::string_view::npos) return;
    const char* const text = run.data();
    const std::size_t steps = run.size() - run.size() % simd::kMarked;
    for (std::size_t at = 0; at < steps; at += simd::kMarked) {
      const std::uint64_t crs = simd::mark_either(text + at, '\r', '\r', level);
      if (crs == 0) continue;
      // A CR that a CR or an LF follows; the byte after the step is the run's, or past its LF.
      const char next = at + simd::kMarked < run.size() ? text[at + simd::kMarked] : '\n';
      const std::uint64_t followed = (simd::mark_either(text + at, '\n', '\r', level) >> 1) |
                                     (std::uint64_t{next == '\n' || next == '\r'} << 63);
      for (std::uint64_t lone = crs & ~followed; lone != 0; lone &= lone - 1)
        ends_run(run, at + static_cast<std::size_t>(std::countr_zero(lone)));
    }
    // A CR is never the run's last byte, so the byte after it is the run's.
    for (std::size_t i = steps; i < run.size(); ++i) {
      if (text[i] == '\r' && text[i + 1] != '\n' && text[i + 1] != '\r') ends_run(run, i);
    }
  }

  // Whether `text`'s byte `i` is the last CR of a run that is counted: a byte other than CR or LF
  // follows it in `text` (the run's first CR is where it is told). The same rule as scan()'s, for
  // a text whose counted CRs are kept byte by byte.
  static bool ends_counted_run(std::string_view text, std::size_t i) {
    return text[i] == '\r' && i + 1 < text.size() && text[i + 1] != '\r' && text[i + 1] != '\n';
  }

  // The warning of them, its first on input line `line`.
  Diagnostic diagnostic(std::int64_t line) const {
    Diagnostic d;
    d.kind = DiagnosticKind::CrJoinsLines;
    d.line = line;
    d.column = column;
    d.end_column = column;
    d.count = count;
    return d;
  }

 private:
  // One more, whose run of CRs ends at `last` of `run`.
  void ends_run(std::string_view run, std::size_t last) {
    if (count != 0) {
      ++count;
      return;
    }
    std::size_t first = last;
    while (first > 0 && run[first - 1] == '\r')
      --first;
    found(run, first);
  }
  // One more, whose run of CRs begins at `cr` of `piece`.
  void found(std::string_view piece, std::size_t cr) {
    if (count++ != 0) return;
    // No CR stands before the run on its line: it would have been counted first.
    const std::size_t line_start = piece.rfind('\n', cr) + 1;  // 0 when there is none
    lines_before = 0;
    for (std::size_t i = 0; i < line_start; ++i)
      lines_before += piece[i] == '\n' ? 1 : 0;
    column = cr - line_start + 1;
  }
};

}  // namespace vorpex

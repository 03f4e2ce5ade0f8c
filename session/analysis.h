#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/diagnostic.h"
#include "engine/token_kind.h"
#include "engine/token_observer.h"
#include "session/keywords.h"
#include "session/session.h"

namespace vorpex {

// A place in the source: a 1-based line and byte column (as the converter counts them), the
// length in bytes, and where it starts in the source's bytes.
struct SourceRange {
  std::int64_t line = 0;
  std::size_t column = 0;
  std::size_t length = 0;
  std::size_t offset = 0;
};

// A constant: its name and value as the table holds them (upper-cased), and where the name stands
// in its DEFINE (line 0: defined before the source, from the settings).
struct Definition {
  std::string name;
  std::string value;
  SourceRange place;
};

// A word replaced by a constant's value.
struct Reference {
  std::size_t definition = 0;  // index into Analysis::definitions
  SourceRange place;
};

// A number that begins a line, or a number that a jump names (after GOTO, GOSUB, THEN, ELSE,
// RESTORE or RUN, or in the list of ON ... GOTO/GOSUB), by the digits that begin it, without
// leading zeros: the line number an interpreter reads there.
struct LineNumberUse {
  std::string number;
  SourceRange place;
};

// Everything an editor shows about one source: a session over the whole text that reads past a
// character that begins no token, so that every problem is found in one pass, and what its tokens
// tell.
struct Analysis {
  std::vector<KeptDiagnostic> diagnostics;  // those the options ask for, notes after theirs
  std::vector<Definition> definitions;      // those of the options first, then in source order
  std::vector<Reference> references;
  std::vector<LineNumberUse> labels;  // the numbers that begin lines
  std::vector<LineNumberUse> jumps;   // the numbers that jumps name
  std::vector<TokenEvent> tokens;     // every token, when asked for
  std::string output;                 // the compacted output, as the converter writes it
  std::vector<MapRow> map;            // the input lines of each output line
  // For input line n (from 1), output_start[n - 1] is the output's size when that line started;
  // one more entry holds the output's final size.
  std::vector<std::uint64_t> output_start;

  // The definition of a name (any case), or null.
  const Definition* find_definition(std::string_view name) const;
  // The label whose number is `number` (digits, leading zeros allowed), or null.
  const LineNumberUse* find_label(std::string_view number) const;
  // The jumps to a number that begins no line.
  std::vector<LineNumberUse> missing_targets() const;
  // The input line (from 1) during which each output line began.
  std::vector<std::int64_t> line_map() const;
  // The output lines (from 0) that hold bytes written while input line `line` was read:
  // [first, last), empty when the line wrote nothing.
  std::pair<std::size_t, std::size_t> output_lines_of(std::int64_t line) const;
  // The text of output line `index` (from 0) without its line break.
  std::string_view output_line(std::size_t index) const;
};

// Analyses `text`, the whole source, with the constants and the choice of warnings of `options`
// (keep-going is always on; `options.tokens` fills Analysis::tokens).
Analysis analyze(std::string_view text, const SessionOptions& options = {});

// The digits that begin `number`, without their leading zeros ("0" stays; empty for none).
std::string_view canonical_number(std::string_view number);

}  // namespace vorpex

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

namespace vorpex {

// A place in the source: a 1-based line and byte column, and the length in bytes.
struct SourceRange {
  std::int64_t line = 0;
  std::size_t column = 0;
  std::size_t length = 0;
};

// A diagnostic of the engine, kept past the run: its found text is a copy.
struct AnalysisDiagnostic {
  DiagnosticKind kind = DiagnosticKind::UnknownCharacter;
  std::int64_t line = 0;
  std::size_t column = 0;      // 1-based byte column
  std::size_t end_column = 0;  // one past the last byte of its token
  TokenKind found_kind = TokenKind::None;
  std::string found;
  std::int64_t other_line = 0;
  std::string other;
  // An after-effect of the diagnostic before it, caused at `related_column` of the same line.
  bool note = false;
  std::size_t related_column = 0;

  // The engine's form of it, valid while this one lives: for the front end's wording.
  Diagnostic view() const;
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

struct AnalysisOptions {
  std::vector<std::pair<std::string, std::string>> defines;  // NAME, VALUE, defined first
  bool keep_tokens = false;                                  // fill Analysis::tokens
};

// Everything an editor shows about one source: the whole input is read, past a character that
// begins no token, so that every problem is found in one pass. Built by running the converter
// itself over the text.
struct Analysis {
  std::vector<AnalysisDiagnostic> diagnostics;
  std::vector<Definition> definitions;  // those of the options first, then in source order
  std::vector<Reference> references;
  std::vector<LineNumberUse> labels;  // the numbers that begin lines
  std::vector<LineNumberUse> jumps;   // the numbers that jumps name
  std::vector<TokenEvent> tokens;     // every token, when asked for
  std::string output;                 // the compacted output, as the converter writes it
  // For input line n (from 1), output_start[n - 1] is the output's size when that line started;
  // one more entry holds the output's final size.
  std::vector<std::uint32_t> output_start;

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

// Analyses `text`, the whole source (lines end at LF; CR bytes are dropped and 0x1A ends the
// input, as when reading a file).
Analysis analyze(std::string_view text, const AnalysisOptions& options = {});

// The digits that begin `number`, without their leading zeros ("0" stays; empty for none).
std::string_view canonical_number(std::string_view number);

}  // namespace vorpex

#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/token_kind.h"

namespace vorpex {

// What the engine found wrong, or worth a warning, in the source. The engine only reports the
// event; the front end words it.
enum class DiagnosticKind : std::uint8_t {
  // Errors: each also has its message in the output file.
  UnknownCharacter,  // a byte that begins no token; `found` is that byte
  EqualsExpected,    // DEFINE: the token after the name is not '='; `found` is that token
  ValueExpected,     // DEFINE: the token after '=' is not a name or a number; `found` is that token
  AlreadyDefined,    // DEFINE: `found` is the name; `other_line` is where it was defined first
                     // (0 when it was defined before the first line)
  TableFull,         // DEFINE: `found` is the name; every row of the table is in use
  // Warnings: the output stays as it is.
  UnclosedString,  // a string runs to the line end; the column is its opening quote's
  QuoteInWord,     // `found` is a word or number holding a double quote; the column is the quote's
  NumberJoined,    // `found` is the number that begins the line, written on the output line that
                   // the number of line `other_line` left open
  RemJoinsNextLine,     // a REM after a statement: the next line continues this output line
  DefineJoinsNextLine,  // a complete DEFINE after a statement: the same
  DefineOverridden,     // DEFINE of a name given before the input (-D): `found` is the name; the
                        // directive is taken as a successful one and the earlier value stays
  CrJoinsLines,  // a CR that ends no line, where the text after it begins; once a run that read
                 // the whole source, at the first, with `count` of them all
};

inline constexpr bool is_error(DiagnosticKind kind) {
  return kind <= DiagnosticKind::TableFull;
}

// The stable short name of each kind, for tools and for the manual: "unknown-character", ...
std::string_view diagnostic_code(DiagnosticKind kind);

struct Diagnostic {
  DiagnosticKind kind = DiagnosticKind::UnknownCharacter;
  std::int64_t line = 0;       // the input line, counted from 1 as in the output's messages
  std::size_t column = 0;      // the 1-based byte column on that line; one past its end for the end
  std::size_t end_column = 0;  // one past the last column of the token or byte it is about
  TokenKind found_kind = TokenKind::None;  // the kind of the token in `found`, where it is one
  std::string_view found;  // valid only during the report: the text found (a String without its
                           // quotes; empty for the end of the line)
  std::int64_t other_line = 0;
  std::uint64_t count = 0;  // CrJoinsLines: how many the source holds
  std::string_view other;   // NumberJoined: the number that left the line open (up to 41 bytes)
  // A note is an after-effect of the diagnostic reported just before it, not a cause of its own:
  // a string left open by a double quote inside a word, or an unknown character that the user
  // meant inside such a string. `related_column` is the place of that quote, on the same line.
  bool note = false;
  std::size_t related_column = 0;
  // An error that wrote a message into the output: where the message's line number begins,
  // counting every byte put; 0 for a diagnostic that wrote none.
  std::uint64_t message_at = 0;
};

// Receives the engine's diagnostics as they happen, in input order.
class DiagnosticObserver {
 public:
  virtual ~DiagnosticObserver() = default;
  virtual void report(const Diagnostic& diagnostic) = 0;
  // Whether a double quote inside a word is to be judged: its QuoteInWord warning given only where
  // the quote changes the output, and what follows it on its line reported as its notes. That
  // costs a second conversion of the line. An observer that passes on no warning says false:
  // such a quote is then not warned of, nor named in the notes of warnings, and its line is
  // converted once, as any other; an error that it explains still has its note.
  virtual bool judges_quotes() const { return true; }
};

// Told when the engine starts on each input line, after every byte of the lines before it has
// reached the output sink: what the sink receives next comes from that line.
class LineObserver {
 public:
  virtual ~LineObserver() = default;
  virtual void line_started(std::int64_t line_number) = 0;
};

}  // namespace vorpex

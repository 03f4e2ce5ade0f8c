#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "engine/output_buffer.h"
#include "engine/symbol_table.h"

// Converts a whole common line at once from bit masks of its byte classes, writing exactly what
// the token loop would write, and refuses, having written nothing, every line that could take one
// of the token loop's rarer rules (the rules are listed in fast_line.cc). The two reports it can
// give rise to, a number joined to the line before and a REM after a statement, are made by the
// line processor from what `Lead` tells of the line.
namespace vorpex::fast_line {

inline constexpr std::size_t kMaxLength = 256;  // the longest line taken whole

// What the line processor needs to know of a converted line beyond its output.
struct Lead {
  // The first token when it stands as a number: a Number, or a defined name whose value begins
  // with a digit.
  std::size_t start = 0;   // where it begins in the line
  std::size_t length = 0;  // its length in the line; 0 when the first token is no number
  std::string_view value;  // a defined name's value; empty for a Number
  // Where a REM after a statement ended the line without its line break (the next line continues
  // this one), or 0.
  std::size_t rem = 0;
};

// True when the line was converted into `out` (a line that writes nothing counts); false, with
// nothing written, when the token loop must take it. `padded`: kLinePadding bytes past the line's
// NUL may be read. `lead` is told of the converted line.
bool convert(std::span<const char> line, bool padded, SymbolTable& symbols, OutputBuffer& out,
             Lead& lead);

// Why convert refuses a line; None when it takes it (a line that writes nothing counts).
enum class Refusal {
  None,
  TooLong,         // a long line with no operator to cut it at, or copied and past kMaxLength
  LongString,      // longer than 128 bytes, with a long first string (any string when copied)
  UnclosedString,  // a string still open at the line's end
  ControlByte,     // a control byte or a byte 0x80-0xFF before the comment
  Keyword,         // DEFINE outside the strings
  QuoteTouches,    // a quote that touches a word, a number or another string
  NoTokenBegins,   // a byte that begins no token
};
inline constexpr std::size_t kRefusals = 8;

// What convert would decide on the line, with nothing written: for measurements (the benchmark's
// shares of the lines taken and refused), never on the conversion's own path.
Refusal refusal_of(std::span<const char> line);

}  // namespace vorpex::fast_line

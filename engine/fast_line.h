#pragma once

#include <span>

#include "engine/line_source.h"
#include "engine/output_buffer.h"
#include "engine/symbol_table.h"

namespace vorpex {

// Converts a whole line at once from bit masks of its byte classes, for the common lines: up to
// kMaxLength bytes, made of words, numbers, operators, blanks, strings set apart from other tokens
// by a blank or an operator, and an apostrophe comment. It writes exactly what the token loop
// would write for such a line, and refuses, having written nothing, every line that could take
// one of the token loop's rarer rules or report anything: a REM that is not the line's first
// token, a DEFINE, a byte that begins no token, an unclosed string, a double quote that touches a
// word or number or another string, a control byte or a byte 0x80-0xFF before the comment.
class FastLine {
 public:
  static constexpr std::size_t kMaxLength = 128;

  // Returns true when the line was converted into `out` (a line that writes nothing counts), and
  // false, with nothing written, when the token loop must take it. Defined names are replaced by
  // their values from `symbols`. `padded`: at least kLinePadding bytes past the line's NUL may be
  // read.
  static bool convert(std::span<const char> line, bool padded, SymbolTable& symbols,
                      OutputBuffer& out);
};

}  // namespace vorpex

#pragma once

#include <cstddef>
#include <span>

#include "engine/output_buffer.h"
#include "engine/symbol_table.h"

// Converts a whole common line at once from bit masks of its byte classes, writing exactly what
// the token loop would write, and refuses, having written nothing, every line that could take one
// of the token loop's rarer rules or report anything (the rules are listed in fast_line.cc).
namespace vorpex::fast_line {

inline constexpr std::size_t kMaxLength = 128;  // the longest line taken

// True when the line was converted into `out` (a line that writes nothing counts); false, with
// nothing written, when the token loop must take it. `padded`: kLinePadding bytes past the line's
// NUL may be read.
bool convert(std::span<const char> line, bool padded, SymbolTable& symbols, OutputBuffer& out);

}  // namespace vorpex::fast_line

#pragma once

#include <cstdint>
#include <string_view>

#include "engine/output_buffer.h"

namespace vorpex {

// Writes a message about the source into the output: CR LF, `text`, the line number, CR LF.
// `text` ends with "LINE: ".
inline void write_line_message(OutputBuffer& out, std::string_view text, std::int64_t line_number) {
  out.put("\r\n");
  out.put(text);
  out.put(Decimal(line_number).view());
  out.put("\r\n");
}

}  // namespace vorpex

#pragma once

#include <charconv>
#include <cstdint>
#include <string_view>

#include "engine/output_buffer.h"

namespace vorpex {

// Writes a message about the source into the output: CR LF, `text`, the line number, CR LF.
// `text` ends with "LINE: ".
inline void write_line_message(OutputBuffer& out, std::string_view text, std::int64_t line_number) {
  char digits[24];
  const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, line_number);
  (void)ec;  // 24 bytes hold any 64-bit number
  out.put("\r\n");
  out.put(text);
  out.put(std::string_view(digits, static_cast<std::size_t>(end - digits)));
  out.put("\r\n");
}

}  // namespace vorpex

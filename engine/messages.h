#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/output_buffer.h"

namespace vorpex {

// The messages about the source that go into the output, each followed by its line's number.
// Those of a DEFINE begin alike, which is how a reader of the output finds them.
inline constexpr std::string_view kDirectiveMessageStart = "PREPROCESSOR ERROR: ";
inline constexpr std::string_view kEqualsExpectedMessage =
    "PREPROCESSOR ERROR: '=' EXPECTED... LINE: ";
inline constexpr std::string_view kValueExpectedMessage =
    "PREPROCESSOR ERROR: SYMBOL OR NUMBER EXPECTED... LINE: ";
inline constexpr std::string_view kExistingSymbolMessage =
    "PREPROCESSOR ERROR: EXISTING SYMBOL OR TABLE IS FULL... LINE: ";
inline constexpr std::string_view kUnknownTokenMessage = "UNKNOWN ERROR! LINE: ";
static_assert(kEqualsExpectedMessage.starts_with(kDirectiveMessageStart) &&
              kValueExpectedMessage.starts_with(kDirectiveMessageStart) &&
              kExistingSymbolMessage.starts_with(kDirectiveMessageStart));

// Writes a message about the source into the output: CR LF, `text`, the line number, CR LF.
// `text` ends with "LINE: ".
inline void write_line_message(OutputBuffer& out, std::string_view text, std::int64_t line_number) {
  out.put("\r\n");
  out.put(text);
  out.put(Decimal(line_number).view());
  out.put("\r\n");
}

// Where the line number of the message that write_line_message(out, text, ...) writes next will
// begin, counting every byte put.
inline std::uint64_t line_message_number_at(const OutputBuffer& out, std::string_view text) {
  return out.total() + 2 + text.size();
}

// The same message as text, for the last words of a run that reads on past its stop.
inline std::string line_message(std::string_view text, std::int64_t line_number) {
  std::string message = "\r\n";
  message += text;
  message += Decimal(line_number).view();
  message += "\r\n";
  return message;
}

}  // namespace vorpex

#include "lsp/json_text.h"

#include <charconv>

#include <nlohmann/json.hpp>

namespace vorpex::lsp {

void append_json_string(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  const std::size_t start = out.size();
  out += '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80) {
      // Rare in a message: the library's own writer replaces invalid UTF-8 as everywhere else.
      out.resize(start);
      out += nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
      return;
    }
    if (byte >= 0x20 && c != '"' && c != '\\') {
      out += c;
      continue;
    }
    out += '\\';
    switch (c) {
      case '"':
      case '\\':
        out += c;
        break;
      case '\b':
        out += 'b';
        break;
      case '\f':
        out += 'f';
        break;
      case '\n':
        out += 'n';
        break;
      case '\r':
        out += 'r';
        break;
      case '\t':
        out += 't';
        break;
      default:
        out += "u00";
        out += kHex[byte >> 4];
        out += kHex[byte & 0xF];
    }
  }
  out += '"';
}

void append_json_integer(std::string& out, std::int64_t value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

}  // namespace vorpex::lsp

#include "session/json.h"

#include <charconv>

#include "engine/utf8.h"

namespace vorpex {

void append_json_string(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  std::size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x80) {
      const utf8::Character c = utf8::next_character(text.substr(i));
      if (c.valid) {
        out.append(text.substr(i, c.bytes));
      } else {
        out += "\xEF\xBF\xBD";  // U+FFFD
      }
      i += c.bytes;
      continue;
    }
    ++i;
    if (byte >= 0x20 && byte != '"' && byte != '\\') {
      out += static_cast<char>(byte);
      continue;
    }
    out += '\\';
    switch (byte) {
      case '"':
      case '\\':
        out += static_cast<char>(byte);
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

std::size_t json_integers_size(PackedIntegers::Reader from, std::size_t count) {
  std::size_t size = count > 0 ? 2 + count - 1 : 2;  // the brackets and the commas
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t value = from.next();
    size += value < 10 ? 1 : value < 100 ? 2 : PackedIntegers::decimal_digits(value);
  }
  return size;
}

std::size_t json_integers_size(const PackedIntegers& list) {
  return list.empty() ? 2 : 2 + list.size() - 1 + list.digits();
}

bool write_json_integers(ByteSink& out, PackedIntegers::Reader from, std::size_t count) {
  constexpr std::size_t kLongest = 11;  // "4294967295,"
  constexpr std::size_t kBlock = 1024;
  char block[kBlock * kLongest + 1];
  char* at = block;
  *at++ = '[';
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) *at++ = ',';
    // Most numbers of semantic tokens have one digit.
    const std::uint32_t value = from.next();
    if (value < 10) {
      *at++ = static_cast<char>('0' + value);
    } else {
      at = std::to_chars(at, block + sizeof block, value).ptr;
    }
    if (static_cast<std::size_t>(block + sizeof block - at) < kLongest + 1) {
      if (!out.write({block, static_cast<std::size_t>(at - block)})) return false;
      at = block;
    }
  }
  *at++ = ']';
  return out.write({block, static_cast<std::size_t>(at - block)});
}

}  // namespace vorpex

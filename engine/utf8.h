#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vorpex::utf8 {

// One character of a text read as UTF-8, the way browsers and editors decode it: a valid sequence
// is one character; otherwise the longest start of a sequence that could still have been valid
// (at least one byte) is one character, which they show as U+FFFD. Every rule that counts
// characters, columns or replaced bytes reads text through this one decoder.
struct Character {
  std::size_t bytes = 1;   // 1 to 4
  std::uint32_t code = 0;  // the code point; 0xFFFD when not valid
  bool valid = true;
  int utf16_units() const { return code >= 0x10000 ? 2 : 1; }
};

inline constexpr std::uint32_t kReplacement = 0xFFFD;

// The character that begins `bytes` (which must not be empty).
inline Character next_character(std::string_view bytes) {
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = at(0);
  if (lead < 0x80) return {1, lead, true};
  std::size_t length = 0;
  std::uint32_t code = 0;
  unsigned char low = 0x80;  // the range of the byte after the lead
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0Fu;
    if (lead == 0xE0) low = 0xA0;   // no overlong form
    if (lead == 0xED) high = 0x9F;  // no surrogate
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07u;
    if (lead == 0xF0) low = 0x90;   // no overlong form
    if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
  } else {
    return {1, kReplacement, false};
  }
  for (std::size_t i = 1; i < length; ++i) {
    if (i >= bytes.size()) return {i, kReplacement, false};
    const unsigned char b = at(i);
    if (b < low || b > high) return {i, kReplacement, false};
    code = (code << 6) | (b & 0x3Fu);
    low = 0x80;
    high = 0xBF;
  }
  return {length, code, true};
}

// How many UTF-16 code units `bytes` counts, read as above.
inline std::int64_t utf16_length(std::string_view bytes) {
  std::int64_t units = 0;
  while (!bytes.empty()) {
    const Character c = next_character(bytes);
    units += c.utf16_units();
    bytes.remove_prefix(c.bytes);
  }
  return units;
}

}  // namespace vorpex::utf8

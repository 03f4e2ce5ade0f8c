#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace vorpex::char_class {

// Byte classes, one table lookup per byte. Bytes 0x80-0xFF belong to no class, so they are carried
// inside a Number or Word but cannot begin a token.
enum : std::uint8_t {
  kBlank = 1 << 0,       // space, TAB
  kOperator = 1 << 1,    // & | + - * / % = ; ( ) , > < '
  kTerminator = 1 << 2,  // ends a Number or Word: the operators, the blanks, CR, LF and NUL
  kDigit = 1 << 3,       // 0-9
  kLetter = 1 << 4,      // A-Z a-z
  kStringEnd = 1 << 5,   // ends a String: the double quote, CR, LF and NUL
  kLineEnd = 1 << 6,     // CR, LF and NUL
  kQuote = 1 << 7,       // the double quote alone
};

inline constexpr std::string_view kOperators = "&|+-*/%=;(),><'";

inline constexpr std::array<std::uint8_t, 256> kTable = [] {
  std::array<std::uint8_t, 256> t{};
  for (char c : kOperators)
    t[static_cast<unsigned char>(c)] |= kOperator | kTerminator;
  for (unsigned char c : {' ', '\t'})
    t[c] |= kBlank | kTerminator;
  for (unsigned char c : {'\r', '\n', '\0'})
    t[c] |= kTerminator | kStringEnd | kLineEnd;
  t['"'] |= kStringEnd | kQuote;
  for (int c = '0'; c <= '9'; ++c)
    t[c] |= kDigit;
  for (int c = 'A'; c <= 'Z'; ++c)
    t[c] |= kLetter;
  for (int c = 'a'; c <= 'z'; ++c)
    t[c] |= kLetter;
  return t;
}();

inline constexpr bool has(char c, std::uint8_t cls) {
  return (kTable[static_cast<unsigned char>(c)] & cls) != 0;
}

// Upper-casing maps only a-z to A-Z; every other byte is left as it is.
inline constexpr std::array<char, 256> kUpper = [] {
  std::array<char, 256> t{};
  for (int c = 0; c < 256; ++c)
    t[c] = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  return t;
}();

inline constexpr char to_upper(char c) {
  return kUpper[static_cast<unsigned char>(c)];
}

inline void to_upper_in_place(std::span<char> text) {
  for (char& c : text)
    c = to_upper(c);
}

// True when `text` is the whole of `keyword` (given in upper case), in any case. A text of the
// keyword's length is upper-cased in place.
inline bool is_keyword(std::span<char> text, std::string_view keyword) {
  if (text.size() != keyword.size()) return false;
  to_upper_in_place(text);
  return std::string_view(text.data(), text.size()) == keyword;
}

}  // namespace vorpex::char_class

#pragma once

#include <cstdint>

namespace vorpex {

// Token kinds with their one-byte codes (2 and 4 are not used).
enum class TokenKind : std::uint8_t {
  None = 0,       // the first character cannot begin any token
  Delimiter = 1,  // an operator character, or the end of the line when delimiter_char() is 0
  Number = 3,     // a run of characters that begins with a digit
  Word = 5,       // a run of characters that begins with a letter
  String = 6,     // the characters between double quotes, without the quotes
};

}  // namespace vorpex

#pragma once

#include <cstddef>
#include <cstdint>

namespace vorpex {

// What a token is to the converter.
enum class TokenRole : std::uint8_t {
  Word,
  Number,
  LineNumber,  // the number that begins a line
  String,
  Operator,
  Comment,      // REM or ' to the line end, the keyword included
  Directive,    // the word DEFINE
  DefinedName,  // a word replaced by its value
  Definition,   // the name a DEFINE defines
  Unknown,      // a byte that begins no token
};

struct TokenEvent {
  std::int64_t line = 0;
  std::size_t column = 0;  // 1-based byte
  std::size_t length = 0;
  TokenRole role = TokenRole::Word;
};

// Told of every token the converter reads, in input order.
class TokenObserver {
 public:
  virtual ~TokenObserver() = default;
  virtual void token(const TokenEvent& event) = 0;
};

}  // namespace vorpex

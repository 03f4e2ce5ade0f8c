#pragma once

#include <cstddef>
#include <cstdint>

namespace vorpex {

// What a token is to the converter, for an editor's colours and a reader's eye.
enum class TokenRole : std::uint8_t {
  Word,
  Number,
  LineNumber,  // the number that begins a line
  String,      // with its quotes
  Operator,
  Comment,      // REM or an apostrophe, with the rest of the line
  Directive,    // the word DEFINE
  DefinedName,  // a word replaced by its value
  Definition,   // the name that a DEFINE defines
  Unknown,      // a byte that begins no token
};

struct TokenEvent {
  std::int64_t line = 0;
  std::size_t column = 0;  // 1-based byte column of the token's first byte
  std::size_t length = 0;  // in bytes
  TokenRole role = TokenRole::Word;
  std::size_t offset = 0;  // where the token starts in a source held whole (0 when streamed)
};

// Told of every token the converter reads, in input order. While one listens, every line goes
// through the token loop.
class TokenObserver {
 public:
  virtual ~TokenObserver() = default;
  virtual void token(const TokenEvent& event) = 0;
};

}  // namespace vorpex

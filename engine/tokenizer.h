#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "engine/byte_sink.h"

namespace vorpex {

// Token kinds with their one-byte codes (2 and 4 are not used).
enum class TokenKind : std::uint8_t {
  None = 0,       // the first character cannot begin any token
  Delimiter = 1,  // an operator character, or the end of the line when delimiter_char() is 0
  Number = 3,     // a run of characters that begins with a digit
  Word = 5,       // a run of characters that begins with a letter
  String = 6,     // the characters between double quotes, without the quotes
};

// True for space and TAB.
bool is_blank(char c);
// True for the bytes that end a Number or Word: the operators, the blanks, CR, LF and NUL.
bool is_delimiter(char c);

// Splits one line into tokens. The line is the caller's buffer, ended by a NUL (or a CR or LF);
// token_text() is a view into that buffer, so a token of any length is kept whole and nothing is
// copied. The tokenizer never changes case.
class Tokenizer {
 public:
  // `warnings` receives the unbalanced-quote message; it may be null.
  explicit Tokenizer(ByteSink* warnings = nullptr) : warnings_(warnings) {}

  // Points the cursor at the first byte of a new line and resets the kind and delimiter.
  void set_line(char* text) {
    cursor_ = text;
    token_ = {};
    kind_ = TokenKind::None;
    delimiter_char_ = '\0';
  }

  // Reads the token at the cursor, advances past it and returns its kind.
  TokenKind next_token();

  // The text of the last token: writable, so callers may upper-case a word in place.
  std::span<char> token_text() const { return token_; }
  std::string_view token_view() const { return {token_.data(), token_.size()}; }
  TokenKind kind() const { return kind_; }
  char delimiter_char() const { return delimiter_char_; }

  // The line processor finishes a line early (a comment, a directive) by turning the current token
  // into the end-of-line delimiter.
  void finish_line() {
    kind_ = TokenKind::Delimiter;
    delimiter_char_ = '\0';
  }
  // True when the last token was the end of the line (or was turned into it).
  bool at_line_end() const { return kind_ == TokenKind::Delimiter && delimiter_char_ == '\0'; }

 private:
  char* cursor_ = nullptr;
  std::span<char> token_;
  TokenKind kind_ = TokenKind::None;
  char delimiter_char_ = '\0';
  ByteSink* warnings_;
};

}  // namespace vorpex

#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "engine/byte_sink.h"
#include "engine/char_class.h"

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
// token_text() is a view into that buffer, so a token of any length is kept whole. The tokenizer
// never changes the line.
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
  TokenKind next_token() { return read_token<false>(nullptr); }

  // The same, and a Number or Word is also copied to `copy` as it is read, a Word upper-cased, so
  // that the caller need not go over it again. `copy` needs room for the rest of the line.
  TokenKind next_token_copying(char* copy) { return read_token<true>(copy); }

  // The text of the last token: writable, so callers may upper-case a word in place.
  std::span<char> token_text() const { return token_; }
  std::string_view token_view() const { return {token_.data(), token_.size()}; }
  TokenKind kind() const { return kind_; }
  char delimiter_char() const { return delimiter_char_; }
  // The bytes of the line not read yet, up to its NUL.
  const char* cursor() const { return cursor_; }

  // The line processor finishes a line early (a comment, a directive) by turning the current token
  // into the end-of-line delimiter.
  void finish_line() {
    kind_ = TokenKind::Delimiter;
    delimiter_char_ = '\0';
  }
  // True when the last token was the end of the line (or was turned into it).
  bool at_line_end() const { return kind_ == TokenKind::Delimiter && delimiter_char_ == '\0'; }

 private:
  template <bool kCopy>
  TokenKind read_token(char* copy);

  char* cursor_ = nullptr;
  std::span<char> token_;
  TokenKind kind_ = TokenKind::None;
  char delimiter_char_ = '\0';
  ByteSink* warnings_;
};

template <bool kCopy>
inline TokenKind Tokenizer::read_token(char* copy) {
  using char_class::kTable;
  char* p = cursor_;
  unsigned char c = static_cast<unsigned char>(*p);
  std::uint8_t cls = kTable[c];
  while (cls & char_class::kBlank) {
    c = static_cast<unsigned char>(*++p);
    cls = kTable[c];
  }
  TokenKind kind = TokenKind::None;
  char delimiter = '\0';
  char* end = p;

  if (cls & (char_class::kDigit | char_class::kLetter)) {
    // Every line ends with a NUL, a terminator, so the scan cannot run past the line. Every
    // Number and Word is read here, so this loop is the hot path of a conversion.
    kind = cls & char_class::kDigit ? TokenKind::Number : TokenKind::Word;
    if constexpr (kCopy) {
      const bool upper = kind == TokenKind::Word;
      unsigned char b = c;
      do {
        *copy++ = upper ? char_class::kUpper[b] : static_cast<char>(b);
        b = static_cast<unsigned char>(*++end);
      } while (!(kTable[b] & char_class::kTerminator));
    } else {
      do
        ++end;
      while (!(kTable[static_cast<unsigned char>(*end)] & char_class::kTerminator));
    }
    token_ = {p, static_cast<std::size_t>(end - p)};
  } else if (cls & char_class::kOperator) {
    kind = TokenKind::Delimiter;
    delimiter = static_cast<char>(c);
    token_ = {p, 1};
    end = p + 1;
  } else if (cls & char_class::kLineEnd) {
    // The end of the line: NUL, or a CR or LF. The cursor stays on it, so asking again gives the
    // end of the line again.
    kind = TokenKind::Delimiter;
    token_ = {p, 0};
  } else if (c == '"') {
    char* start = p + 1;
    end = start;
    while (!(kTable[static_cast<unsigned char>(*end)] & char_class::kStringEnd))
      ++end;
    token_ = {start, static_cast<std::size_t>(end - start)};
    kind = TokenKind::String;
    if (*end == '"') {
      ++end;
    } else if (warnings_ != nullptr) {
      // Unclosed: the string runs to the line end, and the cursor stays on it.
      warnings_->write("\r\nUNBALANCED QUOTE!\r\n");
    }
  } else {
    // A byte that begins no token: the cursor stays, so asking again gives None again.
    token_ = {p, 0};
  }
  cursor_ = end;
  kind_ = kind;
  delimiter_char_ = delimiter;
  return kind;
}

}  // namespace vorpex

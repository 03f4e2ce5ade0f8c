#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/byte_sink.h"
#include "engine/char_class.h"
#include "engine/diagnostic.h"
#include "engine/token_kind.h"

namespace vorpex {

// Splits one line into tokens. The line is the caller's buffer, ended by a NUL (or a CR or LF);
// token_text() is a view into that buffer, so a token of any length is kept whole. The tokenizer
// never changes the line. An unclosed string, and a double quote inside a Word or Number, are
// reported through TokenReports.
class Tokenizer;

// Where the tokenizer's reports go, and the line they are about; its owner keeps the line fields
// up to date (start_line).
//
// A double quote inside a word is warned about only where it changes the output, which is known
// at the end of the line: from that warning on, the line's diagnostics are held, and the owner
// settles them (settle_quote) when the line is done.
struct TokenReports {
  DiagnosticObserver* diagnostics = nullptr;  // may be null
  const char* line_start = nullptr;
  std::int64_t line_number = 0;
  std::int64_t quote_line = 0;  // a double quote inside a word is reported once a line
  // The quote that a word took, after which the user's string stays open (an odd number of quotes
  // in the words since), and that word; null when none.
  const char* open_quote = nullptr;
  std::string_view open_word;
  bool judge_quotes = true;     // the observer wants a quote inside a word judged
  bool holding = false;         // the line's diagnostics wait in `held`
  bool last_was_quote = false;  // the last diagnostic was the quote-inside-word warning
  // ... a warning not given, the quote not being judged, with no diagnostic since to explain
  bool quote_unshown = false;
  std::vector<Diagnostic> held;  // kept for its capacity
  // The texts of the held diagnostics (`found`, then `other`), copied: what they point to may
  // change before the line is settled (a join's word, for one, once keep-going reads past a stop).
  std::string held_text;
  std::vector<std::size_t> held_at;  // where each held diagnostic's texts begin in held_text

  void start_line(const char* text, std::int64_t number) {
    line_start = text;
    line_number = number;
    open_quote = nullptr;
  }

  // Reports a diagnostic about the `length` bytes at `byte` of the line; does nothing without an
  // observer. These take no tokenizer, so the line loop's own tokenizer never has its address
  // taken.
  void report(DiagnosticKind kind, const char* byte, std::size_t length,
              TokenKind found_kind = TokenKind::None, std::string_view found = {},
              std::int64_t other_line = 0, std::string_view other = {},
              std::uint64_t message_at = 0);
  // Hands a diagnostic on, or holds it while the line's quote warning is undecided.
  void deliver(const Diagnostic& diagnostic);
  // An unclosed string that begins at `quote` and runs to `end`.
  void unclosed_string(const char* quote, const char* end);
  // A Word or Number that holds a double quote; reported once a line, since the text up to the
  // closing quote gives more such words.
  void quote_inside(std::string_view token, TokenKind kind);
  // A byte that begins no token, and the note that points at the quote that left it outside the
  // string it was meant for. `stopped_at` is the line where the conversion stopped, 0 for this one.
  void unknown_character(const char* byte, std::size_t length, std::int64_t stopped_at);
  // A note about the one byte at `column` of `line`, which `word` explains.
  void deliver_note(DiagnosticKind kind, std::int64_t line, std::size_t column,
                    std::string_view word);
  // Hands on the held diagnostics, without the quote warning when `keep_quote` is false (its notes
  // then stand as warnings of their own).
  void settle_quote(bool keep_quote);
};

class Tokenizer {
 public:
  // `reports` may be null: nothing is reported then.
  explicit Tokenizer(TokenReports* reports = nullptr) : reports_(reports) {}

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
  TokenReports* reports() const { return reports_; }

  // The line processor finishes a line early (a comment, a directive) by turning the current token
  // into the end-of-line delimiter.
  void finish_line() {
    kind_ = TokenKind::Delimiter;
    delimiter_char_ = '\0';
  }
  // Steps over the bytes at the cursor as if they were blanks: after a character that begins no
  // token, an analysis that goes on to the end of the line.
  void skip_bytes(std::size_t count) { cursor_ += count; }
  // True when the last token was the end of the line (or was turned into it).
  bool at_line_end() const { return kind_ == TokenKind::Delimiter && delimiter_char_ == '\0'; }

 private:
  template <bool kCopy>
  TokenKind read_token(char* copy);
  // The rest of a Word or Number from its first double quote at `quote` on, copied after `copy`
  // when that is not null; reports the quote. Returns the token's end.
  static char* finish_quoted_word(TokenReports* reports, char* start, char* quote, char* copy,
                                  bool upper, TokenKind kind);

  char* cursor_ = nullptr;
  std::span<char> token_;
  TokenKind kind_ = TokenKind::None;
  char delimiter_char_ = '\0';
  TokenReports* reports_;
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
    // A double quote does not end them; the scan stops there only to report it, then goes on.
    kind = cls & char_class::kDigit ? TokenKind::Number : TokenKind::Word;
    constexpr std::uint8_t kStop = char_class::kTerminator | char_class::kQuote;
    if constexpr (kCopy) {
      const bool upper = kind == TokenKind::Word;
      unsigned char b = c;
      do {
        *copy++ = upper ? char_class::kUpper[b] : static_cast<char>(b);
        b = static_cast<unsigned char>(*++end);
      } while (!(kTable[b] & kStop));
      if (b == '"') [[unlikely]]
        end = finish_quoted_word(reports_, p, end, copy, upper, kind);
    } else {
      do
        ++end;
      while (!(kTable[static_cast<unsigned char>(*end)] & kStop));
      if (*end == '"') [[unlikely]]
        end = finish_quoted_word(reports_, p, end, nullptr, false, kind);
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
    token_ = {p, std::size_t{0}};
  } else if (c == '"') {
    char* start = p + 1;
    end = start;
    while (!(kTable[static_cast<unsigned char>(*end)] & char_class::kStringEnd))
      ++end;
    token_ = {start, static_cast<std::size_t>(end - start)};
    kind = TokenKind::String;
    if (*end == '"') {
      ++end;
    } else {
      // Unclosed: the string runs to the line end, and the cursor stays on it.
      if (reports_ != nullptr) reports_->unclosed_string(p, end);
    }
  } else {
    // A byte that begins no token: the cursor stays, so asking again gives None again.
    token_ = {p, std::size_t{0}};
  }
  cursor_ = end;
  kind_ = kind;
  delimiter_char_ = delimiter;
  return kind;
}

}  // namespace vorpex

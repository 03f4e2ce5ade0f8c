#include "engine/tokenizer.h"

#include "engine/char_class.h"

namespace vorpex {

using char_class::has;

bool is_blank(char c) {
  return has(c, char_class::kBlank);
}
bool is_delimiter(char c) {
  return has(c, char_class::kTerminator);
}

namespace {

// Advances `p` to the first byte of class `stop`. Every line ends with a NUL, which belongs to
// every stop class used here, so the scan cannot run past the line.
inline char* scan_until(char* p, std::uint8_t stop) {
  while (!has(*p, stop))
    ++p;
  return p;
}

}  // namespace

TokenKind Tokenizer::next_token() {
  kind_ = TokenKind::None;
  delimiter_char_ = '\0';
  char* p = cursor_;
  while (has(*p, char_class::kBlank))
    ++p;
  cursor_ = p;
  const char c = *p;

  if (has(c, char_class::kLineEnd)) {
    // The end of the line: NUL, or a CR or LF. The cursor stays on it, so asking again gives the
    // end of the line again.
    token_ = {p, 0};
    kind_ = TokenKind::Delimiter;
  } else if (has(c, char_class::kOperator)) {
    token_ = {p, 1};
    delimiter_char_ = c;
    cursor_ = p + 1;
    kind_ = TokenKind::Delimiter;
  } else if (c == '"') {
    char* start = p + 1;
    char* end = scan_until(start, char_class::kStringEnd);
    token_ = {start, static_cast<std::size_t>(end - start)};
    if (*end == '"') {
      cursor_ = end + 1;
    } else {
      cursor_ = end;  // left on the line end
      if (warnings_ != nullptr) warnings_->write("\r\nUNBALANCED QUOTE!\r\n");
    }
    kind_ = TokenKind::String;
  } else if (has(c, char_class::kDigit | char_class::kLetter)) {
    char* end = scan_until(p + 1, char_class::kTerminator);
    token_ = {p, static_cast<std::size_t>(end - p)};
    cursor_ = end;
    kind_ = has(c, char_class::kDigit) ? TokenKind::Number : TokenKind::Word;
  } else {
    // A byte that begins no token: the cursor stays, so asking again gives None again.
    token_ = {p, 0};
  }
  return kind_;
}

}  // namespace vorpex

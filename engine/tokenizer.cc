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

char* Tokenizer::finish_quoted_word(TokenReports* reports, char* start, char* quote, char* copy,
                                    bool upper, TokenKind kind) {
  char* end = quote;
  while (!char_class::has(*end, char_class::kTerminator)) {
    if (copy != nullptr) *copy++ = upper ? char_class::to_upper(*end) : *end;
    ++end;
  }
  if (reports != nullptr) {
    reports->quote_inside({start, static_cast<std::size_t>(end - start)}, kind);
  }
  return end;
}

void TokenReports::report(DiagnosticKind kind, const char* byte, TokenKind found_kind,
                          std::string_view found, std::int64_t other_line) const {
  if (diagnostics == nullptr) return;
  const auto column = static_cast<std::size_t>(byte - line_start) + 1;
  diagnostics->report({kind, line_number, column, found_kind, found, other_line});
}

void TokenReports::unclosed_string(const char* quote) const {
  if (warnings != nullptr) warnings->write("\r\nUNBALANCED QUOTE!\r\n");
  report(DiagnosticKind::UnclosedString, quote);
}

void TokenReports::quote_inside(std::string_view token, TokenKind kind) {
  if (quote_line == line_number) return;
  quote_line = line_number;
  report(DiagnosticKind::QuoteInWord, token.data() + token.find('"'), kind, token);
}

}  // namespace vorpex

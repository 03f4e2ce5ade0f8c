#include "engine/define_directive.h"

#include "engine/char_class.h"
#include "engine/messages.h"

namespace vorpex {

bool is_define_keyword(std::span<char> text) {
  return char_class::is_keyword(text, "DEFINE");
}

bool DefineDirective::handle_word(Tokenizer& tokenizer, std::span<char> word, LineState& line,
                                  OutputBuffer& out) {
  if (is_define_keyword(word)) {
    run_directive(tokenizer, line, out);
    return true;
  }
  // The word was upper-cased as it was copied.
  if (!symbols_.find_upper({word.data(), word.size()})) return false;
  const std::string_view value = symbols_.found_value();
  if (!value.empty() && char_class::has(value.front(), char_class::kDigit)) line.note_number();
  out.put(value);
  return true;
}

void DefineDirective::run_directive(Tokenizer& tokenizer, const LineState& line,
                                    OutputBuffer& out) {
  if (tokenizer.next_token() != TokenKind::Word) return;  // no message for a missing name
  const std::span<char> name = tokenizer.token_text();    // stays valid: the line is not changed
  if (tokenizer.next_token() != TokenKind::Delimiter || tokenizer.delimiter_char() != '=') {
    write_line_message(out, "PREPROCESSOR ERROR: '=' EXPECTED... LINE: ", line.line_number);
    return;
  }
  const TokenKind value_kind = tokenizer.next_token();
  if (value_kind != TokenKind::Word && value_kind != TokenKind::Number) {
    write_line_message(out,
                       "PREPROCESSOR ERROR: SYMBOL OR NUMBER EXPECTED... LINE: ", line.line_number);
    return;
  }
  // A complete directive ends the line: what follows it is ignored, and no line break is written.
  tokenizer.finish_line();
  if (!symbols_.add_symbol(name, tokenizer.token_text())) {
    write_line_message(
        out, "PREPROCESSOR ERROR: EXISTING SYMBOL OR TABLE IS FULL... LINE: ", line.line_number);
  }
}

}  // namespace vorpex

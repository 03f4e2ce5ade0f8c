#include "engine/define_directive.h"

#include <cstring>
#include <string>

#include "engine/char_class.h"
#include "engine/messages.h"
#include "engine/utf8.h"

namespace vorpex {

bool is_define_keyword(std::span<char> text) {
  return char_class::is_keyword(text, "DEFINE");
}

namespace {

// Reports the token the directive stopped on: where it begins (a String at its opening quote, a
// byte that begins nothing at that byte) and what it is; `message_at` is where the number of the
// error's message will stand in the output.
void report_found(const Tokenizer& tokenizer, DiagnosticKind kind, std::uint64_t message_at) {
  if (tokenizer.reports() == nullptr) return;
  TokenReports& reports = *tokenizer.reports();
  const std::span<char> text = tokenizer.token_text();
  switch (tokenizer.kind()) {
    case TokenKind::String: {
      const char* const quote = text.data() - 1;
      reports.report(kind, quote, static_cast<std::size_t>(tokenizer.cursor() - quote),
                     TokenKind::String, tokenizer.token_view(), 0, {}, message_at);
      break;
    }
    case TokenKind::None: {
      const std::size_t length = utf8::next_character({text.data(), strnlen(text.data(), 4)}).bytes;
      reports.report(kind, text.data(), length, TokenKind::None, {text.data(), length}, 0, {},
                     message_at);
      break;
    }
    default:
      reports.report(kind, text.data(), text.size(), tokenizer.kind(), tokenizer.token_view(), 0,
                     {}, message_at);
      break;
  }
}

// True when `text`, with blanks around it at most, is one token of a kind that `accepts`.
template <typename Accepts>
bool is_one_token(std::string& text, Accepts accepts) {
  Tokenizer tokenizer;
  tokenizer.set_line(text.data());
  if (!accepts(tokenizer.next_token())) return false;
  return tokenizer.next_token() == TokenKind::Delimiter && tokenizer.at_line_end() &&
         *tokenizer.cursor() == '\0' && tokenizer.cursor() == text.data() + text.size();
}

}  // namespace

DefineResult DefineDirective::add(std::span<char> name, std::span<char> value, std::int64_t line) {
  if (symbols_.add_symbol(name, value, line)) return DefineResult::Defined;
  // add_symbol upper-cased the name in place.
  return symbols_.entry_of({name.data(), name.size()}) != nullptr ? DefineResult::AlreadyDefined
                                                                  : DefineResult::TableFull;
}

void DefineDirective::observe(const Tokenizer& tokenizer, const LineState& line, TokenRole role) {
  if (tokens_ == nullptr || tokenizer.reports() == nullptr) return;
  const std::span<char> text = tokenizer.token_text();
  const char* start = text.data();
  std::size_t length = text.size();
  switch (tokenizer.kind()) {
    case TokenKind::String:
      start -= 1;
      length = static_cast<std::size_t>(tokenizer.cursor() - start);
      break;
    case TokenKind::None:
      return;  // the token loop reports it when the line goes on from here
    case TokenKind::Delimiter:
      if (tokenizer.at_line_end() || tokenizer.delimiter_char() == '\'') return;
      break;
    default:
      break;
  }
  tokens_->token({line.line_number,
                  static_cast<std::size_t>(start - tokenizer.reports()->line_start) + 1, length,
                  role});
}

[[gnu::noinline]] void DefineDirective::run_directive(Tokenizer& tokenizer, const LineState& line,
                                                      OutputBuffer& out) {
  if (tokenizer.next_token() != TokenKind::Word) return;  // no message for a missing name
  const std::span<char> name = tokenizer.token_text();    // stays valid: the line is not changed
  observe(tokenizer, line, TokenRole::Definition);
  if (tokenizer.next_token() != TokenKind::Delimiter || tokenizer.delimiter_char() != '=') {
    report_found(tokenizer, DiagnosticKind::EqualsExpected,
                 line_message_number_at(out, kEqualsExpectedMessage));
    write_line_message(out, kEqualsExpectedMessage, line.line_number);
    return;
  }
  observe(tokenizer, line, TokenRole::Operator);
  const TokenKind value_kind = tokenizer.next_token();
  if (value_kind != TokenKind::Word && value_kind != TokenKind::Number) {
    report_found(tokenizer, DiagnosticKind::ValueExpected,
                 line_message_number_at(out, kValueExpectedMessage));
    write_line_message(out, kValueExpectedMessage, line.line_number);
    return;
  }
  observe(tokenizer, line, value_kind == TokenKind::Number ? TokenRole::Number : TokenRole::Word);
  // A complete directive ends the line: what follows it is ignored, and no line break is written.
  tokenizer.finish_line();
  const DefineResult result = add(name, tokenizer.token_text(), line.line_number);
  if (result == DefineResult::Defined) return;
  const std::string_view key(name.data(), name.size());
  const SymbolEntry* const existing =
      result == DefineResult::AlreadyDefined ? symbols_.entry_of(key) : nullptr;
  TokenReports* const reports = tokenizer.reports();
  if (existing != nullptr && existing->line == 0 && existing->overridden_line == 0) {
    // A name given before the input (on the command line) overrides the source's default, once:
    // the directive is taken as a successful one, and the earlier value stays. A second DEFINE of
    // the name is the mistake it would be without the command line's value.
    symbols_.mark_overridden(key, line.line_number);
    if (reports != nullptr) {
      reports->report(DiagnosticKind::DefineOverridden, name.data(), name.size(), TokenKind::Word,
                      key);
    }
    return;
  }
  if (reports != nullptr) {
    const std::uint64_t at = line_message_number_at(out, kExistingSymbolMessage);
    if (existing != nullptr) {
      reports->report(DiagnosticKind::AlreadyDefined, name.data(), name.size(), TokenKind::Word,
                      key, existing->line != 0 ? existing->line : existing->overridden_line, {},
                      at);
    } else {
      reports->report(DiagnosticKind::TableFull, name.data(), name.size(), TokenKind::Word, key, 0,
                      {}, at);
    }
  }
  write_line_message(out, kExistingSymbolMessage, line.line_number);
}

// The rules of parse_definition (definition.cc), on a name and a value given apart. Calling it
// from here instead changed how the link-time optimiser laid out the token loop, which is inlined
// into the front end: 1.4% more instructions on a string-heavy source (callgrind).
DefineResult DefineDirective::define_constant(std::string_view name, std::string_view value) {
  std::string name_text(name);
  std::string value_text(value);
  const auto is_word = [](TokenKind kind) { return kind == TokenKind::Word; };
  const auto is_word_or_number = [](TokenKind kind) {
    return kind == TokenKind::Word || kind == TokenKind::Number;
  };
  if (!is_one_token(name_text, is_word)) return DefineResult::BadName;
  if (!is_one_token(value_text, is_word_or_number)) return DefineResult::BadValue;
  std::string key = name_text;
  std::string val = value_text;
  // The tokens without the blanks around them.
  const auto trim = [](std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    const std::size_t last = text.find_last_not_of(" \t");
    text = text.substr(first, last - first + 1);
  };
  trim(key);
  trim(val);
  return add(key, val, 0);
}

}  // namespace vorpex

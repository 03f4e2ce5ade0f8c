#include <optional>
#include <string>

#include "engine/char_class.h"
#include "engine/define_directive.h"
#include "engine/tokenizer.h"

namespace vorpex {

namespace {

// `text` without the blanks around it, when it is one token of a kind that `accepts`.
template <typename Accepts>
std::optional<std::string> one_token(std::string_view text, Accepts accepts) {
  std::string line(text);
  Tokenizer tokenizer;
  tokenizer.set_line(line.data());
  const TokenKind kind = tokenizer.next_token();
  if (!accepts(kind)) return std::nullopt;
  std::string token(tokenizer.token_view());
  if (tokenizer.next_token() != TokenKind::Delimiter || !tokenizer.at_line_end() ||
      *tokenizer.cursor() != '\0' || tokenizer.cursor() != line.data() + line.size()) {
    return std::nullopt;
  }
  return token;
}

}  // namespace

ParsedDefinition parse_definition(std::string_view name, std::string_view value) {
  std::optional<std::string> word =
      one_token(name, [](TokenKind kind) { return kind == TokenKind::Word; });
  if (!word) return {DefineResult::BadName, {}, {}};
  std::optional<std::string> word_or_number = one_token(
      value, [](TokenKind kind) { return kind == TokenKind::Word || kind == TokenKind::Number; });
  if (!word_or_number) return {DefineResult::BadValue, {}, {}};
  return {DefineResult::Defined, std::move(*word), std::move(*word_or_number)};
}

ParsedDefinition parse_definition(std::string_view text) {
  const std::size_t equals = text.find('=');
  if (equals == std::string_view::npos) return {DefineResult::MissingEquals, {}, {}};
  return parse_definition(text.substr(0, equals), text.substr(equals + 1));
}

DefineResult DefinitionCheck::add(const ParsedDefinition& definition) {
  if (definition.result != DefineResult::Defined) return definition.result;
  std::string name = definition.name;
  char_class::to_upper_in_place(name);
  if (names_.contains(name)) return DefineResult::AlreadyDefined;
  if (names_.size() == SymbolTable::kCapacity) return DefineResult::TableFull;
  names_.insert(std::move(name));
  return DefineResult::Defined;
}

}  // namespace vorpex

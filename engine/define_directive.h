#pragma once

#include <cstdint>
#include <set>
#include <span>
#include <string>
#include <string_view>

#include "engine/char_class.h"
#include "engine/line_state.h"
#include "engine/output_buffer.h"
#include "engine/symbol_table.h"
#include "engine/token_observer.h"
#include "engine/tokenizer.h"

namespace vorpex {

// How defining a constant outside the source went.
enum class DefineResult {
  Defined,
  BadName,         // the name is not exactly one word
  BadValue,        // the value is not exactly one word or number
  AlreadyDefined,  // the name is defined already; the first definition stays
  TableFull,       // every row of the table is in use
  MissingEquals,   // a definition's text has no '=' between its name and its value
};

// A constant defined outside the source, as its NAME=VALUE text reads.
struct ParsedDefinition {
  DefineResult result = DefineResult::Defined;  // Defined, MissingEquals, BadName or BadValue
  std::string name;   // the one word, as written, without the blanks around it
  std::string value;  // the one word or number, likewise
};

// Reads `NAME=VALUE` by the rules of a DEFINE line (blanks around the name and the value at most);
// looks at no table, so a name defined already is not told.
ParsedDefinition parse_definition(std::string_view text);
// The same for a name and a value given apart.
ParsedDefinition parse_definition(std::string_view name, std::string_view value);

// Checks constants from outside the source one by one, before any is defined, as a table would
// take them: a name may come once, and at most as many as the table holds.
class DefinitionCheck {
 public:
  // Defined, or why the definition would be refused (its parse's result first).
  DefineResult add(const ParsedDefinition& definition);

 private:
  std::set<std::string> names_;  // upper-cased, as the table holds them
};

// True when `text` is the whole word DEFINE, in any case; a six-byte text is upper-cased in place.
bool is_define_keyword(std::span<char> text);

// What handle_word() did with a word.
enum class WordUse : std::uint8_t {
  Kept,         // neither DEFINE nor a defined name: nothing was written
  Directive,    // the word was DEFINE: the directive ran
  Substituted,  // a defined name: its value was written
};

// The DEFINE directive and the substitution of defined names, for the line processor's words.
class DefineDirective {
 public:
  // Handles the current Word token, given upper-cased as `word`: runs the directive when the word
  // is DEFINE; writes the value when the word is a defined name. Either may move the output, and
  // `word` with it.
  WordUse handle_word(Tokenizer& tokenizer, std::span<char> word, LineState& line,
                      OutputBuffer& out);

  // False when handle_word() is sure to leave `word` alone: it is not DEFINE and no name is
  // defined.
  bool may_handle(std::span<char> word) const { return !symbols_.empty() || word.size() == 6; }

  SymbolTable& symbols() { return symbols_; }

  // Told of the directive's own tokens; null for none.
  void set_token_observer(TokenObserver* tokens) { tokens_ = tokens; }

  // Defines a constant from outside the source, by the rules of the directive.
  DefineResult define_constant(std::string_view name, std::string_view value);

 private:
  // Reads «name = value» after DEFINE. Its tokens are never written. When the directive stops
  // early, the token that stopped it stays the current token, and the line goes on from there.
  void run_directive(Tokenizer& tokenizer, const LineState& line, OutputBuffer& out);
  // Adds the constant, or tells why it could not be added: the name exists, or the table is full.
  DefineResult add(std::span<char> name, std::span<char> value, std::int64_t line);

  // Tells the token observer of the current token, as `role`.
  void observe(const Tokenizer& tokenizer, const LineState& line, TokenRole role);

  SymbolTable symbols_;
  TokenObserver* tokens_ = nullptr;
};

// Inline: the line processor calls it for every word once a name is defined.
inline WordUse DefineDirective::handle_word(Tokenizer& tokenizer, std::span<char> word,
                                            LineState& line, OutputBuffer& out) {
  if (is_define_keyword(word)) {
    run_directive(tokenizer, line, out);
    return WordUse::Directive;
  }
  // The word was upper-cased as it was copied.
  if (!symbols_.find_upper({word.data(), word.size()})) return WordUse::Kept;
  const std::string_view value = symbols_.found_value();
  if (!value.empty() && char_class::has(value.front(), char_class::kDigit)) line.note_number();
  out.put(value);
  return WordUse::Substituted;
}

}  // namespace vorpex

#pragma once

// What an analysis gathers from the tokens as they arrive; shared by analyze() and the analysis
// kept from one version of a text to the next.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/char_class.h"
#include "engine/symbol_table.h"
#include "engine/token_observer.h"
#include "session/analysis.h"
#include "session/keywords.h"

namespace vorpex {

// True when `word` is `keyword` (upper case) in any case.
inline bool same_word(std::string_view word, std::string_view keyword) {
  if (word.size() != keyword.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (char_class::to_upper(word[i]) != keyword[i]) return false;
  }
  return true;
}

inline std::string upper_word(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    c = char_class::to_upper(c);
  return out;
}

// Gathers the diagnostics, the tokens and what the tokens tell: the constants, their uses, the
// line numbers and the jumps.
class AnalysisCollector : public TokenObserver {
 public:
  // What it finds goes to `analysis`, whose first definition is definition number
  // `definitions_before` of the whole analysis (those before it, see known()).
  AnalysisCollector(Analysis& analysis, std::string_view text, bool keep_tokens,
                    std::size_t definitions_before = 0)
      : analysis_(analysis),
        text_(text),
        keep_tokens_(keep_tokens),
        definitions_before_(definitions_before) {}

  // The session's table, from which the constants are read as the tokens arrive.
  void set_symbols(const SymbolTable& symbols) { symbols_ = &symbols; }

  void token(const TokenEvent& raw) override {
    if (raw.line != line_) {
      // A jump does not go on over a line end; a DEFINE of the line before is settled.
      line_ = raw.line;
      definition_done();
      expect_target_ = false;
      in_list_ = false;
      after_go_ = false;
    }
    const TokenEvent& event = raw;
    if (event.role != TokenRole::Word) after_go_ = false;
    if (keep_tokens_) analysis_.tokens.push_back(event);
    const std::string_view text = text_.substr(std::min(event.offset, text_.size()), event.length);
    const SourceRange place{event.line, event.column, event.length, event.offset};
    bool target = false;
    switch (event.role) {
      case TokenRole::LineNumber:
        analysis_.labels.push_back({std::string(canonical_number(text)), place});
        break;
      case TokenRole::Number:
        if (expect_target_) {
          analysis_.jumps.push_back({std::string(canonical_number(text)), place});
          target = true;
        }
        break;
      case TokenRole::Word: {
        // GO TO and GO SUB, in two words, jump as GOTO and GOSUB do.
        const bool go = after_go_;
        after_go_ = same_word(text, "GO");
        if (is_jump_word(text) || (go && (same_word(text, "TO") || same_word(text, "SUB")))) {
          expect_target_ = true;
          in_list_ = false;
          return;
        }
        if (after_go_) return;
        break;
      }
      case TokenRole::Operator:
        if (in_list_ && text == ",") {
          expect_target_ = true;
          in_list_ = false;
          return;
        }
        break;
      case TokenRole::DefinedName: {
        const SymbolEntry* entry = symbols_->entry_of(upper_word(text));
        const auto found = index_.find(entry);
        if (found != index_.end()) analysis_.references.push_back({found->second, place});
        // A constant whose value is a number names a line after a jump, too.
        if (expect_target_ && entry != nullptr && !entry->value.empty() &&
            char_class::has(entry->value.front(), char_class::kDigit)) {
          analysis_.jumps.push_back({std::string(canonical_number(entry->value)), place});
          target = true;
        }
        break;
      }
      case TokenRole::Definition: {
        candidates_.push_back({upper_word(text), {}, place});
        break;
      }
      default:
        break;
    }
    expect_target_ = false;
    in_list_ = target;
  }

  // A run that goes on from where another stood: the row of definition `index`, found before.
  void known(const SymbolEntry* entry, std::size_t index) {
    if (entry != nullptr) index_.emplace(entry, index);
  }

  // Called before the run: the constants of the options.
  void predefined(std::string_view name) {
    const std::string key = upper_word(name);
    const SymbolEntry* entry = symbols_->entry_of(key);
    if (entry == nullptr || index_.contains(entry)) return;
    index_.emplace(entry, definitions_before_ + analysis_.definitions.size());
    analysis_.definitions.push_back({key, {}, {}});
  }

  // A Definition token names a constant when the table took it on that line.
  void definition_done() {
    for (Definition& candidate : candidates_) {
      const SymbolEntry* entry = symbols_->entry_of(candidate.name);
      if (entry == nullptr || entry->line != candidate.place.line || index_.contains(entry))
        continue;
      index_.emplace(entry, definitions_before_ + analysis_.definitions.size());
      analysis_.definitions.push_back(std::move(candidate));
    }
    candidates_.clear();
  }

  void finish() {
    for (Definition& definition : analysis_.definitions) {
      if (const SymbolEntry* entry = symbols_->entry_of(definition.name))
        definition.value = entry->value;
    }
  }

 private:
  Analysis& analysis_;
  std::string_view text_;
  const SymbolTable* symbols_ = nullptr;
  bool keep_tokens_;
  std::size_t definitions_before_;
  std::int64_t line_ = 0;
  bool expect_target_ = false;  // the last token was a jump's keyword, or a comma in its list
  bool in_list_ = false;        // the last token was a jump's number
  bool after_go_ = false;       // the last token was the word GO
  std::unordered_map<const SymbolEntry*, std::size_t> index_;  // the definition of each row
  std::vector<Definition> candidates_;
};

}  // namespace vorpex

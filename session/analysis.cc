#include "session/analysis.h"

#include <algorithm>
#include <array>
#include <limits>
#include <span>
#include <unordered_map>

#include "engine/char_class.h"
#include "engine/define_directive.h"
#include "session/keywords.h"

namespace vorpex {

namespace {

// True when `word` is `keyword` (upper case) in any case.
bool same_word(std::string_view word, std::string_view keyword) {
  if (word.size() != keyword.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (char_class::to_upper(word[i]) != keyword[i]) return false;
  }
  return true;
}

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    c = char_class::to_upper(c);
  return out;
}

// Gathers the diagnostics, the tokens and what the tokens tell: the constants, their uses, the
// line numbers and the jumps.
class Collector : public TokenObserver {
 public:
  Collector(Analysis& analysis, std::string_view text, bool keep_tokens)
      : analysis_(analysis), text_(text), keep_tokens_(keep_tokens) {}

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
        const SymbolEntry* entry = symbols_->entry_of(upper(text));
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
        candidates_.push_back({upper(text), {}, place});
        break;
      }
      default:
        break;
    }
    expect_target_ = false;
    in_list_ = target;
  }

  // Called before the run: the constants of the options.
  void predefined(std::string_view name) {
    const std::string key = upper(name);
    const SymbolEntry* entry = symbols_->entry_of(key);
    if (entry == nullptr || index_.contains(entry)) return;
    index_.emplace(entry, analysis_.definitions.size());
    analysis_.definitions.push_back({key, {}, {}});
  }

  // A Definition token names a constant when the table took it on that line.
  void definition_done() {
    for (Definition& candidate : candidates_) {
      const SymbolEntry* entry = symbols_->entry_of(candidate.name);
      if (entry == nullptr || entry->line != candidate.place.line || index_.contains(entry))
        continue;
      index_.emplace(entry, analysis_.definitions.size());
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
  std::int64_t line_ = 0;
  bool expect_target_ = false;  // the last token was a jump's keyword, or a comma in its list
  bool in_list_ = false;        // the last token was a jump's number
  bool after_go_ = false;       // the last token was the word GO
  std::unordered_map<const SymbolEntry*, std::size_t> index_;  // the definition of each row
  std::vector<Definition> candidates_;
};

}  // namespace

std::string_view canonical_number(std::string_view number) {
  std::size_t digits = 0;
  while (digits < number.size() && number[digits] >= '0' && number[digits] <= '9')
    ++digits;
  number = number.substr(0, digits);
  const std::size_t first = number.find_first_not_of('0');
  if (first == std::string_view::npos) return number.empty() ? number : number.substr(0, 1);
  return number.substr(first);
}

Analysis analyze(std::string_view text, const SessionOptions& options) {
  Analysis analysis;
  SessionOptions session_options = options;
  session_options.keep_going = true;
  StringSink sink(analysis.output);
  SourceLines lines(text);
  Collector collector(analysis, lines.source(), options.tokens);
  SourcePlaces places(lines, &analysis.diagnostics, &collector);
  MapRecorder map(analysis.map, &analysis.output_start);
  Session session(session_options, sink, &places, &map, &places);
  collector.set_symbols(session.symbols());
  if (session.refusal().empty()) {
    for (const std::string& define : options.defines)
      collector.predefined(parse_definition(define).name);
  }
  const ProcessResult result = session.run(lines);
  // The lines after a stop wrote nothing.
  analysis.output_start.resize(static_cast<std::size_t>(result.line_number) + 1,
                               analysis.output.size());
  collector.definition_done();
  collector.finish();
  return analysis;
}

const Definition* Analysis::find_definition(std::string_view name) const {
  const std::string key = upper(name);
  for (const Definition& definition : definitions) {
    if (definition.name == key) return &definition;
  }
  return nullptr;
}

const LineNumberUse* Analysis::find_label(std::string_view number) const {
  const std::string_view key = canonical_number(number);
  for (const LineNumberUse& label : labels) {
    if (label.number == key) return &label;
  }
  return nullptr;
}

std::vector<LineNumberUse> Analysis::missing_targets() const {
  std::vector<std::string_view> numbers;
  numbers.reserve(labels.size());
  for (const LineNumberUse& label : labels)
    numbers.push_back(label.number);
  std::sort(numbers.begin(), numbers.end());
  std::vector<LineNumberUse> missing;
  for (const LineNumberUse& jump : jumps) {
    if (!std::binary_search(numbers.begin(), numbers.end(), jump.number)) missing.push_back(jump);
  }
  return missing;
}

std::vector<std::int64_t> Analysis::line_map() const {
  std::vector<std::int64_t> lines;
  lines.reserve(map.size());
  for (const MapRow& row : map)
    lines.push_back(row.first);
  return lines;
}

std::pair<std::size_t, std::size_t> Analysis::output_lines_of(std::int64_t line) const {
  if (line < 1 || static_cast<std::size_t>(line) >= output_start.size()) return {0, 0};
  const std::size_t from = output_start[static_cast<std::size_t>(line) - 1];
  const std::size_t to = output_start[static_cast<std::size_t>(line)];
  if (from >= to) return {0, 0};
  const auto lines_before = [&](std::size_t offset) {
    return static_cast<std::size_t>(
        std::count(output.begin(), output.begin() + static_cast<std::ptrdiff_t>(offset), '\n'));
  };
  const std::size_t first = lines_before(from);
  return {first, first + 1 + lines_before(to - 1) - lines_before(from)};
}

std::string_view Analysis::output_line(std::size_t index) const {
  std::size_t start = 0;
  for (std::size_t i = 0; i < index; ++i) {
    const std::size_t lf = output.find('\n', start);
    if (lf == std::string::npos) return {};
    start = lf + 1;
  }
  std::size_t end = output.find('\n', start);
  if (end == std::string::npos) end = output.size();
  std::string_view text(output.data() + start, end - start);
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  return text;
}

}  // namespace vorpex

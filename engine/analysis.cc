#include "engine/analysis.h"

#include <algorithm>
#include <array>
#include <limits>
#include <span>
#include <unordered_map>

#include "engine/byte_sink.h"
#include "engine/char_class.h"
#include "engine/line_processor.h"
#include "engine/line_source.h"

namespace vorpex {

namespace {

// The source's lines, each copied without its CR bytes into a buffer of its own with a NUL after
// it (the converter upper-cases words in place). Remembers where the CR bytes of the current line
// stood, so that columns can be given in the text as it is.
class TextLines : public LineSource {
 public:
  explicit TextLines(std::string_view text) : text_(text.substr(0, text.find('\x1a'))) {}

  bool next_line(std::span<char>& line) override {
    if (done_) return false;
    std::size_t end = text_.find('\n', next_);
    if (end == std::string_view::npos) {
      done_ = true;
      if (next_ == text_.size()) return false;  // the text ended with its line break
      end = text_.size();
    }
    const std::string_view raw = text_.substr(next_, end - next_);
    start_ = next_;
    next_ = end + 1;
    ++lines_read_;
    buffer_.clear();
    removed_.clear();
    // Copied a run between CR bytes at a time; most lines hold none, or one at their end.
    std::size_t from = 0;
    for (std::size_t cr = raw.find('\r'); cr != std::string_view::npos; cr = raw.find('\r', from)) {
      buffer_.append(raw.substr(from, cr - from));
      removed_.push_back(buffer_.size());
      from = cr + 1;
    }
    buffer_.append(raw.substr(from));
    const std::size_t size = buffer_.size();
    buffer_.resize(size + 1 + kLinePadding, '\0');
    line = {buffer_.data(), size};
    return true;
  }
  std::size_t readable_padding() const override { return kLinePadding; }

  // A 1-based column of the current line without its CR bytes, in the line as it is.
  std::size_t original_column(std::size_t column) const {
    std::size_t shift = 0;
    for (const std::size_t at : removed_)
      shift += at < column ? 1 : 0;
    return column + shift;
  }
  // Where the current line starts in the text.
  std::size_t line_start() const { return start_; }
  std::size_t lines_read() const { return lines_read_; }

 private:
  std::string_view text_;
  std::size_t next_ = 0;
  std::size_t start_ = 0;
  bool done_ = false;
  std::size_t lines_read_ = 0;
  std::string buffer_;
  std::vector<std::size_t> removed_;
};

class StringSink : public ByteSink {
 public:
  explicit StringSink(std::string& out) : out_(out) {}
  bool write(std::string_view bytes) override {
    out_.append(bytes);
    return true;
  }

 private:
  std::string& out_;
};

std::uint32_t offset32(std::size_t size) {
  return static_cast<std::uint32_t>(
      std::min<std::size_t>(size, std::numeric_limits<std::uint32_t>::max()));
}

bool is_jump_word(std::string_view word) {
  static constexpr std::array<std::string_view, 6> kWords = {"GOTO", "GOSUB",   "THEN",
                                                             "ELSE", "RESTORE", "RUN"};
  for (const std::string_view keyword : kWords) {
    if (word.size() != keyword.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < word.size() && same; ++i)
      same = char_class::to_upper(word[i]) == keyword[i];
    if (same) return true;
  }
  return false;
}

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    c = char_class::to_upper(c);
  return out;
}

// Gathers the diagnostics, the tokens and what the tokens tell: the constants, their uses, the
// line numbers and the jumps.
class Collector : public DiagnosticObserver, public TokenObserver, public LineObserver {
 public:
  Collector(Analysis& analysis, const TextLines* lines, std::string_view text, SymbolTable& symbols,
            bool keep_tokens)
      : analysis_(analysis),
        lines_(lines),
        text_(text),
        symbols_(symbols),
        keep_tokens_(keep_tokens) {}

  void report(const Diagnostic& d) override {
    AnalysisDiagnostic& kept = analysis_.diagnostics.emplace_back();
    kept.kind = d.kind;
    kept.line = d.line;
    kept.column = lines_->original_column(d.column);
    kept.end_column = lines_->original_column(std::max(d.end_column, d.column));
    kept.found_kind = d.found_kind;
    kept.found.assign(d.found);
    kept.other_line = d.other_line;
    kept.other.assign(d.other);
    kept.note = d.note;
    kept.related_column = d.note ? lines_->original_column(d.related_column) : 0;
  }

  void line_started(std::int64_t) override {
    analysis_.output_start.push_back(offset32(analysis_.output.size()));
  }

  void token(const TokenEvent& raw) override {
    if (raw.line != line_) {
      // A jump does not go on over a line end; a DEFINE of the line before is settled.
      line_ = raw.line;
      definition_done();
      expect_target_ = false;
      in_list_ = false;
    }
    TokenEvent event = raw;
    const std::size_t end = lines_->original_column(raw.column + raw.length);
    event.column = lines_->original_column(raw.column);
    event.length = end - event.column;
    if (keep_tokens_) analysis_.tokens.push_back(event);
    const std::string_view text = text_of(event);
    const SourceRange place{event.line, event.column, event.length};
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
      case TokenRole::Word:
        if (is_jump_word(text)) {
          expect_target_ = true;
          in_list_ = false;
          return;
        }
        break;
      case TokenRole::Operator:
        if (in_list_ && text == ",") {
          expect_target_ = true;
          in_list_ = false;
          return;
        }
        break;
      case TokenRole::DefinedName: {
        const SymbolEntry* entry = symbols_.entry_of(upper(text));
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

  void set_lines(const TextLines* lines) { lines_ = lines; }

  // Called before the run: the constants of the options.
  void predefined(std::string_view name) {
    const std::string key = upper(name);
    const SymbolEntry* entry = symbols_.entry_of(key);
    if (entry == nullptr || index_.contains(entry)) return;
    index_.emplace(entry, analysis_.definitions.size());
    analysis_.definitions.push_back({key, {}, {}});
  }

  // A Definition token names a constant when the table took it on that line.
  void definition_done() {
    for (Definition& candidate : candidates_) {
      const SymbolEntry* entry = symbols_.entry_of(candidate.name);
      if (entry == nullptr || entry->line != candidate.place.line || index_.contains(entry))
        continue;
      index_.emplace(entry, analysis_.definitions.size());
      analysis_.definitions.push_back(std::move(candidate));
    }
    candidates_.clear();
  }

  void finish() {
    for (Definition& definition : analysis_.definitions) {
      if (const SymbolEntry* entry = symbols_.entry_of(definition.name))
        definition.value = entry->value;
    }
  }

 private:
  std::string_view text_of(const TokenEvent& event) const {
    const std::size_t start = lines_->line_start() + event.column - 1;
    if (start >= text_.size()) return {};
    return text_.substr(start, event.length);
  }

  Analysis& analysis_;
  const TextLines* lines_;
  std::string_view text_;
  SymbolTable& symbols_;
  bool keep_tokens_;
  std::int64_t line_ = 0;
  bool expect_target_ = false;  // the last token was a jump's keyword, or a comma in its list
  bool in_list_ = false;        // the last token was a jump's number
  std::unordered_map<const SymbolEntry*, std::size_t> index_;  // the definition of each row
  std::vector<Definition> candidates_;
};

}  // namespace

Diagnostic AnalysisDiagnostic::view() const {
  Diagnostic d;
  d.kind = kind;
  d.line = line;
  d.column = column;
  d.found_kind = found_kind;
  d.found = found;
  d.end_column = end_column;
  d.other_line = other_line;
  d.other = other;
  d.note = note;
  d.related_column = related_column;
  return d;
}

std::string_view canonical_number(std::string_view number) {
  std::size_t digits = 0;
  while (digits < number.size() && number[digits] >= '0' && number[digits] <= '9')
    ++digits;
  number = number.substr(0, digits);
  const std::size_t first = number.find_first_not_of('0');
  if (first == std::string_view::npos) return number.empty() ? number : number.substr(0, 1);
  return number.substr(first);
}

Analysis analyze(std::string_view text, const AnalysisOptions& options) {
  Analysis analysis;
  StringSink sink(analysis.output);
  LineProcessor processor(sink);
  TextLines lines(text);
  Collector collector(analysis, &lines, text, processor.symbols(), options.keep_tokens);
  for (const auto& [name, value] : options.defines) {
    if (processor.define_constant(name, value) == DefineResult::Defined) {
      std::string key(name);
      const std::size_t first = key.find_first_not_of(" \t");
      const std::size_t last = key.find_last_not_of(" \t");
      collector.predefined(std::string_view(key).substr(first, last - first + 1));
    }
  }
  processor.set_diagnostics(&collector);
  processor.set_line_observer(&collector);
  processor.set_token_observer(&collector);
  processor.set_keep_going(true);
  processor.process_input(lines);
  // The lines after a stop wrote nothing.
  while (analysis.output_start.size() <= lines.lines_read())
    analysis.output_start.push_back(offset32(analysis.output.size()));
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
  std::vector<std::int64_t> map;
  bool at_start = true;
  std::size_t line = 0;  // the input line (from 0) that holds offset i
  for (std::size_t i = 0; i < output.size(); ++i) {
    if (at_start) {
      while (line + 1 < output_start.size() && output_start[line + 1] <= i)
        ++line;
      map.push_back(static_cast<std::int64_t>(line) + 1);
    }
    at_start = output[i] == '\n';
  }
  return map;
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

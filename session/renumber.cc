#include "session/renumber.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <map>
#include <utility>

#include "engine/char_class.h"
#include "session/analysis_collector.h"
#include "session/keywords.h"

namespace vorpex {

namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

// Line numbers compared as numbers: canonical digits, no leading zeros.
int compare_numbers(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}

std::optional<std::uint64_t> value_of(std::string_view canonical) {
  std::uint64_t value = 0;
  const auto [end, error] =
      std::from_chars(canonical.data(), canonical.data() + canonical.size(), value);
  if (canonical.empty() || error != std::errc() || end != canonical.data() + canonical.size())
    return std::nullopt;
  return value;
}

std::size_t digit_run(std::string_view text) {
  std::size_t n = 0;
  while (n < text.size() && char_class::has(text[n], char_class::kDigit))
    ++n;
  return n;
}

std::string line_word(std::int64_t line) {
  return "source line " + std::to_string(line);
}

// A line of the program: a source line whose first token is a number (or a constant whose value
// is one), with the unnumbered source lines after it, up to the next such line.
struct ProgramLine {
  std::string number;  // canonical
  std::int64_t line = 0;
  std::size_t start = 0;  // its bytes in the source: [start, end)
  std::size_t end = 0;
  std::size_t label_offset = 0;         // where its first token stands
  std::optional<std::size_t> constant;  // the definition that numbers it
  std::int64_t last_line = 0;           // its last source line
};

// A number that the renumbering may change: a line's own, a jump's target, or a DEFINE's value;
// `digits` is where the digits that it replaces stand in the source.
struct Use {
  enum Kind { Label, Jump, Value } kind = Label;
  std::string number;  // canonical
  std::int64_t line = 0;
  std::size_t offset = 0;  // the token's place (for labels and jumps: as the analysis has it)
  std::size_t digits = 0;  // the digits to replace
  std::size_t digits_length = 0;
  bool computed = false;                // a jump whose target is computed from it
  std::optional<std::size_t> constant;  // a use through a constant's name
  std::size_t length = 0;               // the token's bytes in the source
};

struct Scan {
  Analysis analysis;
  std::vector<ProgramLine> lines;
  std::vector<Use> uses;  // labels and jumps, in the order of the source
  std::vector<RenumberWarning> computed;
  std::vector<std::size_t> line_starts;  // where each source line starts
  // For each constant (by definition), where its DEFINE's value stands; npos for none.
  std::vector<std::size_t> value_offset;
  std::vector<std::size_t> value_length;
};

bool is_go_word(std::string_view text) {
  return same_word(text, "GOTO") || same_word(text, "GOSUB") || same_word(text, "RESTORE") ||
         same_word(text, "RUN");
}

// Reads what the analysis's tokens tell beyond the analysis: the lines, each jump's kind, the
// computed targets, and where each constant's value stands.
Scan scan(std::string_view source, const SessionOptions& options) {
  Scan s;
  SessionOptions with_tokens = options;
  with_tokens.tokens = true;
  s.analysis = analyze(source, with_tokens);
  const Analysis& a = s.analysis;
  s.line_starts.push_back(0);
  for (std::size_t i = 0; i < source.size(); ++i) {
    if (source[i] == '\n' && i + 1 < source.size()) s.line_starts.push_back(i + 1);
  }
  s.value_offset.assign(a.definitions.size(), std::string_view::npos);
  s.value_length.assign(a.definitions.size(), 0);
  std::unordered_map<std::size_t, std::size_t> jump_at;  // offset -> index in a.jumps
  for (std::size_t i = 0; i < a.jumps.size(); ++i)
    jump_at.emplace(a.jumps[i].place.offset, i);
  std::unordered_map<std::size_t, std::size_t> reference_at;
  for (const Reference& r : a.references)
    reference_at.emplace(r.place.offset, r.definition);
  std::unordered_map<std::size_t, std::size_t> definition_at;
  for (std::size_t i = 0; i < a.definitions.size(); ++i) {
    if (a.definitions[i].place.line > 0) definition_at.emplace(a.definitions[i].place.offset, i);
  }
  const auto text_of = [&](const TokenEvent& t) {
    return source.substr(std::min(t.offset, source.size()), t.length);
  };
  const auto digit_value = [&](const TokenEvent& t) {
    if (t.role == TokenRole::Number) return true;
    if (t.role != TokenRole::DefinedName) return false;
    const auto found = reference_at.find(t.offset);
    if (found == reference_at.end()) return false;
    const std::string& value = a.definitions[found->second].value;
    return !value.empty() && char_class::has(value.front(), char_class::kDigit);
  };
  std::vector<bool> computed_jump(a.jumps.size(), false);
  const auto computed_at = [&](const TokenEvent& t, std::string_view what) {
    s.computed.push_back({"computed-line-target",
                          "the target of " + std::string(what) + " is computed: left as it is",
                          {t.line, t.column, t.length, t.offset}});
  };
  const std::vector<TokenEvent>& tokens = a.tokens;
  std::size_t i = 0;
  while (i < tokens.size()) {
    std::size_t end = i;
    while (end < tokens.size() && tokens[end].line == tokens[i].line)
      ++end;
    // The first token: a line's own number, or a constant's value that is one. A character that
    // begins no token stands before it as a blank does, as the analysis reads on past a stop.
    std::size_t lead = i;
    while (lead + 1 < end && tokens[lead].role == TokenRole::Unknown)
      ++lead;
    const TokenEvent& first = tokens[lead];
    if (first.role == TokenRole::LineNumber ||
        (first.role == TokenRole::DefinedName && digit_value(first))) {
      ProgramLine line;
      line.line = first.line;
      line.label_offset = first.offset;
      if (first.role == TokenRole::LineNumber) {
        line.number = std::string(canonical_number(text_of(first)));
      } else {
        line.constant = reference_at.at(first.offset);
        line.number = std::string(canonical_number(a.definitions[*line.constant].value));
      }
      s.lines.push_back(std::move(line));
    }
    // The jumps: a target that is not a number, or a number that an operator goes on from.
    bool go = false;        // the last token was GOTO, GOSUB, RESTORE, RUN, or GO TO/SUB
    bool list = false;      // the last token was a comma after a jump's target
    bool after_go = false;  // the last token was GO
    std::string what;
    for (std::size_t k = i; k < end; ++k) {
      const TokenEvent& t = tokens[k];
      const std::string_view text = text_of(t);
      const auto jump = jump_at.find(t.offset);
      if (jump != jump_at.end() && digit_value(t)) {
        const TokenEvent* next = k + 1 < end ? &tokens[k + 1] : nullptr;
        if (next != nullptr && next->role == TokenRole::Operator && text_of(*next) != ",") {
          computed_jump[jump->second] = true;
          computed_at(t, "the jump at " + line_word(t.line));
        }
        go = false;
        list = next != nullptr && text_of(*next) == ",";
        if (list) ++k;
        after_go = false;
        continue;
      }
      if (go || list) {
        const bool statement = t.role == TokenRole::Word && is_keyword(text);
        const bool plain = t.role == TokenRole::String || t.role == TokenRole::Comment || statement;
        if (!plain && !(list && t.role == TokenRole::Operator))
          computed_at(t, what + " at " + line_word(t.line));
        go = false;
        list = false;
      }
      if (t.role == TokenRole::Word) {
        const bool was_go = after_go;
        after_go = same_word(text, "GO");
        if (is_go_word(text) || (was_go && (same_word(text, "TO") || same_word(text, "SUB")))) {
          go = true;
          what = was_go ? "GO " + upper_word(text) : upper_word(text);
        }
      } else {
        after_go = false;
      }
      // A DEFINE's value: the Number after the name and '='.
      if (t.role == TokenRole::Definition) {
        const auto d = definition_at.find(t.offset);
        if (d != definition_at.end() && k + 2 < end && text_of(tokens[k + 1]) == "=" &&
            tokens[k + 2].role == TokenRole::Number) {
          s.value_offset[d->second] = tokens[k + 2].offset;
          s.value_length[d->second] = tokens[k + 2].length;
        }
      }
    }
    i = end;
  }
  // Each line's extent: from its source line to the next program line's.
  const auto start_of = [&](std::int64_t line) {
    return line >= 1 && static_cast<std::size_t>(line) <= s.line_starts.size()
               ? s.line_starts[static_cast<std::size_t>(line) - 1]
               : source.size();
  };
  const auto source_lines = static_cast<std::int64_t>(s.line_starts.size());
  for (std::size_t k = 0; k < s.lines.size(); ++k) {
    ProgramLine& line = s.lines[k];
    line.start = start_of(line.line);
    const std::int64_t next = k + 1 < s.lines.size() ? s.lines[k + 1].line : source_lines + 1;
    line.end = start_of(next);
    line.last_line = next - 1;
  }
  // The uses, in the order of the source.
  for (const LineNumberUse& label : a.labels) {
    const std::string_view text = source.substr(label.place.offset, label.place.length);
    s.uses.push_back({Use::Label, label.number, label.place.line, label.place.offset,
                      label.place.offset, digit_run(text), false, std::nullopt,
                      label.place.length});
  }
  for (std::size_t k = 0; k < a.jumps.size(); ++k) {
    const LineNumberUse& jump = a.jumps[k];
    Use use{Use::Jump, jump.number,      jump.place.line, jump.place.offset, jump.place.offset,
            0,         computed_jump[k], std::nullopt,    jump.place.length};
    if (const auto r = reference_at.find(jump.place.offset); r != reference_at.end()) {
      use.constant = r->second;
    } else {
      use.digits_length = digit_run(source.substr(jump.place.offset, jump.place.length));
    }
    s.uses.push_back(std::move(use));
  }
  for (const ProgramLine& line : s.lines) {
    if (line.constant)
      s.uses.push_back({Use::Label, line.number, line.line, line.label_offset, line.label_offset, 0,
                        false, line.constant});
  }
  std::stable_sort(s.uses.begin(), s.uses.end(),
                   [](const Use& x, const Use& y) { return x.offset < y.offset; });
  return s;
}

struct Refusal {
  std::string message;
  std::int64_t line = 0;
};

// The line numbers by the order they stand in, with each line's index.
std::vector<std::size_t> range_of(const Scan& s, const RenumberRequest& request,
                                  std::string_view verb, std::optional<Refusal>& refusal) {
  const std::string from = request.from ? std::to_string(*request.from) : std::string();
  const std::string to = request.to ? std::to_string(*request.to) : std::string();
  const auto in_range = [&](const std::string& number) {
    return (!request.from || compare_numbers(number, from) >= 0) &&
           (!request.to || compare_numbers(number, to) <= 0);
  };
  std::optional<std::size_t> first;
  std::size_t last = 0;
  for (std::size_t k = 0; k < s.lines.size(); ++k) {
    if (!in_range(s.lines[k].number)) continue;
    if (!first) first = k;
    last = k;
  }
  const std::string range =
      (request.from ? from : "the first") + " to " + (request.to ? to : std::string("the last"));
  if (!first) {
    refusal = {std::string(verb) + (s.lines.empty() ? "the source has no line numbers"
                                                    : "no line is numbered from " + range),
               0};
    return {};
  }
  std::vector<std::size_t> indices;
  for (std::size_t k = *first; k <= last; ++k) {
    const ProgramLine& line = s.lines[k];
    if (k > *first) {
      const ProgramLine& before = s.lines[k - 1];
      const int order = compare_numbers(line.number, before.number);
      if (!in_range(line.number) || order < 0) {
        refusal = {std::string(verb) + "the lines are not in ascending order: line " + line.number +
                       " (" + line_word(line.line) + ") comes after line " + before.number + " (" +
                       line_word(before.line) + ")",
                   line.line};
        return {};
      }
      if (order == 0) {
        refusal = {std::string(verb) + "line " + line.number + " repeats at " +
                       line_word(line.line) + " (first at " + line_word(before.line) + ")",
                   line.line};
        return {};
      }
    }
    indices.push_back(k);
  }
  return indices;
}

// The constants that stand for a line whose number changes: each must be used only where a line
// number stands, and be the source's own.
std::optional<Refusal> check_constants(const Scan& s,
                                       const std::map<std::string, std::uint64_t>& mapping,
                                       std::string_view verb) {
  const Analysis& a = s.analysis;
  std::unordered_map<std::size_t, bool> line_use;  // reference offset -> used as a line number
  for (const Use& use : s.uses) {
    if (use.constant) line_use[use.offset] = true;
  }
  for (std::size_t d = 0; d < a.definitions.size(); ++d) {
    const Definition& definition = a.definitions[d];
    const std::string number(canonical_number(definition.value));
    const auto mapped = mapping.find(number);
    if (number.empty() || mapped == mapping.end() || std::to_string(mapped->second) == number)
      continue;
    bool as_line = false;
    std::int64_t first_line = 0;
    std::string values;
    std::int64_t value_line = 0;
    for (const Reference& r : a.references) {
      if (r.definition != d) continue;
      if (line_use.contains(r.place.offset)) {
        as_line = true;
        if (first_line == 0) first_line = r.place.line;
        continue;
      }
      if (!values.empty()) values += ", ";
      values += std::to_string(r.place.line);
      if (value_line == 0) value_line = r.place.line;
    }
    if (!as_line) continue;
    if (!values.empty())
      return Refusal{std::string(verb) + "the constant " + definition.name + " stands for line " +
                         number + " and is also used as a value (source line" +
                         (values.find(',') != std::string::npos ? "s " : " ") + values +
                         "); give the value a constant of its own",
                     value_line};
    if (definition.place.line == 0)
      return Refusal{std::string(verb) + "the constant " + definition.name +
                         ", given outside the source, stands for line " + number + " (" +
                         line_word(first_line) + "); define it in the source, or renumber " +
                         "without that line",
                     first_line};
    if (s.value_offset[d] == std::string_view::npos)
      return Refusal{std::string(verb) + "the value of the constant " + definition.name +
                         " cannot be told in its DEFINE",
                     definition.place.line};
  }
  return std::nullopt;
}

// The edits of the digits: every use (and DEFINE value) whose number the mapping changes.
std::vector<RenumberEdit> digit_edits(const Scan& s, std::string_view source,
                                      const std::map<std::string, std::uint64_t>& mapping) {
  std::vector<RenumberEdit> edits;
  const auto change = [&](std::size_t at, std::size_t length, const std::string& number) {
    const auto mapped = mapping.find(number);
    if (mapped == mapping.end()) return;
    const std::string text = std::to_string(mapped->second);
    if (text == number || length == 0) return;
    edits.push_back({at, at + length, text});
  };
  for (const Use& use : s.uses) {
    if (use.constant || use.computed) continue;
    change(use.digits, use.digits_length, use.number);
  }
  const Analysis& a = s.analysis;
  for (std::size_t d = 0; d < a.definitions.size(); ++d) {
    const std::size_t at = s.value_offset[d];
    if (at == std::string_view::npos) continue;
    bool as_line = false;
    for (const Use& use : s.uses)
      as_line = as_line || (use.constant == d);
    if (!as_line) continue;
    change(at, digit_run(source.substr(at)), std::string(canonical_number(a.definitions[d].value)));
  }
  std::sort(edits.begin(), edits.end(),
            [](const RenumberEdit& x, const RenumberEdit& y) { return x.from < y.from; });
  return edits;
}

// The new number of a use.
std::string mapped_number(const std::map<std::string, std::uint64_t>& mapping,
                          const std::string& number) {
  const auto found = mapping.find(number);
  return found == mapping.end() ? number : std::to_string(found->second);
}

// Where each old source line stands in the new text (identity for a renumbering).
struct LineMove {
  std::vector<std::int64_t> to;  // index: old line (from 1)
  std::int64_t operator()(std::int64_t line) const {
    return line >= 1 && static_cast<std::size_t>(line) < to.size()
               ? to[static_cast<std::size_t>(line)]
               : line;
  }
};

std::string quoted(std::string_view text) {
  std::string out(1, '\'');
  out.append(text.substr(0, 40));
  out += '\'';
  return out;
}

// Proves the renumbered text: see the header. Empty when it holds; else the first difference.
std::string prove(const Scan& s, std::string_view text, const SessionOptions& options,
                  const std::map<std::string, std::uint64_t>& mapping, const LineMove& move,
                  Analysis& after) {
  const Analysis& a = s.analysis;
  after = analyze(text, options);
  const auto line_text = [](std::int64_t line) { return line_word(line); };
  // The diagnostics, by code, on their lines.
  struct Mark {
    std::int64_t line;
    DiagnosticKind kind;
    bool note;
    bool operator==(const Mark&) const = default;
  };
  std::vector<Mark> expected;
  for (const KeptDiagnostic& d : a.diagnostics)
    expected.push_back({move(d.line), d.kind, d.note});
  std::vector<Mark> found;
  for (const KeptDiagnostic& d : after.diagnostics)
    found.push_back({d.line, d.kind, d.note});
  const auto by_line = [](const Mark& x, const Mark& y) { return x.line < y.line; };
  std::stable_sort(expected.begin(), expected.end(), by_line);
  std::stable_sort(found.begin(), found.end(), by_line);
  for (std::size_t k = 0; k < std::max(expected.size(), found.size()); ++k) {
    if (k < expected.size() && k < found.size() && expected[k] == found[k]) continue;
    if (k < found.size())
      return "a " + std::string(diagnostic_code(found[k].kind)) + " at " +
             line_text(found[k].line) + " that the source did not have";
    return "the " + std::string(diagnostic_code(expected[k].kind)) + " of " +
           line_text(expected[k].line) + " is gone";
  }
  // The line numbers, the jumps and the jumps to missing lines, mapped.
  struct Number {
    std::int64_t line;
    std::string number;
    bool operator==(const Number&) const = default;
  };
  const auto compare = [&](const std::vector<LineNumberUse>& before,
                           const std::vector<LineNumberUse>& now, bool map_numbers,
                           std::string_view what, const std::vector<bool>* keep) -> std::string {
    std::vector<Number> want;
    for (std::size_t k = 0; k < before.size(); ++k) {
      const bool kept = keep != nullptr && (*keep)[k];
      want.push_back({move(before[k].place.line), map_numbers && !kept
                                                      ? mapped_number(mapping, before[k].number)
                                                      : before[k].number});
    }
    std::vector<Number> got;
    for (const LineNumberUse& use : now)
      got.push_back({use.place.line, use.number});
    const auto order = [](const Number& x, const Number& y) { return x.line < y.line; };
    std::stable_sort(want.begin(), want.end(), order);
    std::stable_sort(got.begin(), got.end(), order);
    for (std::size_t k = 0; k < std::max(want.size(), got.size()); ++k) {
      if (k < want.size() && k < got.size() && want[k] == got[k]) continue;
      if (k < got.size() && k < want.size())
        return std::string(what) + " " + got[k].number + " at " + line_text(got[k].line) +
               " where " + want[k].number + " was meant";
      if (k < got.size())
        return std::string(what) + " " + got[k].number + " at " + line_text(got[k].line) +
               " that the source did not have";
      return "the " + std::string(what) + " " + want[k].number + " of " + line_text(want[k].line) +
             " is gone";
    }
    return {};
  };
  // Computed jumps keep their numbers.
  std::vector<bool> kept_jumps(a.jumps.size(), false);
  for (std::size_t k = 0; k < a.jumps.size(); ++k) {
    for (const Use& use : s.uses)
      if (use.kind == Use::Jump && use.offset == a.jumps[k].place.offset && use.computed)
        kept_jumps[k] = true;
  }
  if (std::string d = compare(a.labels, after.labels, true, "line number", nullptr); !d.empty())
    return d;
  if (std::string d = compare(a.jumps, after.jumps, true, "jump to", &kept_jumps); !d.empty())
    return d;
  // A jump finds a line after the renumbering where it found one before: the old lines, and the
  // new text's own lines with the lines that constants number.
  std::vector<std::string> old_lines;
  std::vector<std::string> new_lines;
  for (const ProgramLine& line : s.lines) {
    old_lines.push_back(line.number);
    if (line.constant) new_lines.push_back(mapped_number(mapping, line.number));
  }
  for (const LineNumberUse& label : after.labels)
    new_lines.push_back(label.number);
  std::sort(old_lines.begin(), old_lines.end());
  std::sort(new_lines.begin(), new_lines.end());
  for (std::size_t k = 0; k < a.jumps.size(); ++k) {
    if (kept_jumps[k]) continue;
    const std::string& number = a.jumps[k].number;
    const bool found = std::binary_search(old_lines.begin(), old_lines.end(), number);
    const bool finds =
        std::binary_search(new_lines.begin(), new_lines.end(), mapped_number(mapping, number));
    if (found != finds)
      return "the jump to " + number + " at " + line_text(a.jumps[k].place.line) +
             (found ? " finds no line" : " finds a line it did not find before");
  }
  // The constants: the same names, their values mapped where they stand for a line.
  if (a.definitions.size() != after.definitions.size()) return "the constants are not the same";
  for (std::size_t d = 0; d < a.definitions.size(); ++d) {
    const Definition& x = a.definitions[d];
    const Definition& y = after.definitions[d];
    std::string value = x.value;
    if (s.value_offset[d] != std::string_view::npos) {
      bool as_line = false;
      for (const Use& use : s.uses)
        as_line = as_line || use.constant == d;
      if (as_line) {
        const std::size_t n = digit_run(value);
        // A number that keeps its line is not edited, leading zeros and all.
        const std::string number(canonical_number(value));
        if (const std::string to = mapped_number(mapping, number); to != number)
          value = to + value.substr(n);
      }
    }
    if (x.name != y.name || value != y.value)
      return "the constant " + y.name + " is " + y.value + " where " + value + " was meant";
  }
  // The output, line by line: the same bytes but for the numbers that the edits change, each
  // the old number mapped.
  struct Change {
    std::string from;
    std::string to;
  };
  std::vector<std::vector<Change>> changes(a.output_start.size());
  // Nothing is written past the character that stops the conversion.
  std::size_t stop = std::string_view::npos;
  for (const KeptDiagnostic& d : a.diagnostics) {
    if (d.kind == DiagnosticKind::UnknownCharacter) {
      stop = d.offset;
      break;
    }
  }
  for (const Use& use : s.uses) {
    if (use.computed || use.line < 1 || static_cast<std::size_t>(use.line) >= changes.size() ||
        use.offset >= stop)
      continue;
    const std::string to = mapped_number(mapping, use.number);
    if (to != use.number) changes[static_cast<std::size_t>(use.line)].push_back({use.number, to});
  }
  const auto number_start = [](std::string_view whole, std::size_t at) {
    return char_class::has(whole[at], char_class::kDigit) &&
           (at == 0 || char_class::has(whole[at - 1], char_class::kTerminator) ||
            whole[at - 1] == '\0');
  };
  const auto token_end = [](std::string_view whole, std::size_t at) {
    while (at < whole.size() && !char_class::has(whole[at], char_class::kTerminator))
      ++at;
    return at;
  };
  const std::int64_t lines = static_cast<std::int64_t>(a.output_start.size()) - 1;
  if (static_cast<std::int64_t>(after.output_start.size()) - 1 != lines)
    return "the text has " + std::to_string(after.output_start.size() - 1) + " lines, not " +
           std::to_string(lines);
  for (std::int64_t line = 1; line <= lines; ++line) {
    const auto old_at = static_cast<std::size_t>(line);
    const auto new_at = static_cast<std::size_t>(move(line));
    std::size_t i = a.output_start[old_at - 1];
    const std::size_t i_end = a.output_start[old_at];
    std::size_t j = after.output_start[new_at - 1];
    const std::size_t j_end = after.output_start[new_at];
    const std::string_view x = a.output;
    const std::string_view y = after.output;
    std::size_t next = 0;
    const std::vector<Change>& want = changes[old_at];
    const std::string where = " in the output of " + line_text(move(line));
    while (i < i_end || j < j_end) {
      if (i < i_end && j < j_end && number_start(x, i) && number_start(y, j)) {
        const std::size_t ie = std::min(token_end(x, i), i_end);
        const std::size_t je = std::min(token_end(y, j), j_end);
        const std::string_view p = x.substr(i, ie - i);
        const std::string_view q = y.substr(j, je - j);
        if (p != q) {
          const std::size_t n = digit_run(p);
          if (next == want.size() || canonical_number(p) != want[next].from ||
              q != want[next].to + std::string(p.substr(n)))
            return quoted(q) + where + " where " + quoted(p) + " was" +
                   (next < want.size() ? " to become " + want[next].to : " meant");
          ++next;
        }
        i = ie;
        j = je;
        continue;
      }
      if (i < i_end && j < j_end && x[i] == y[j]) {
        ++i;
        ++j;
        continue;
      }
      return "the output of " + line_text(move(line)) + " differs" +
             (j < j_end ? " at " + quoted(y.substr(j, std::min(j_end - j, std::size_t{20})))
                        : std::string(" (it ends early)"));
    }
    if (next != want.size())
      return "the number " + want[next].from + where + " was meant to become " + want[next].to;
  }
  return {};
}

std::string join_warnings_order(std::vector<RenumberWarning>& warnings) {
  std::stable_sort(warnings.begin(), warnings.end(),
                   [](const RenumberWarning& x, const RenumberWarning& y) {
                     return x.place.offset < y.place.offset;
                   });
  return {};
}

// The line break that ends the bytes [start, end) of the source (empty for none).
std::string_view line_end_of(std::string_view source, std::size_t start, std::size_t end) {
  if (end <= start || source[end - 1] != '\n') return {};
  if (end - 1 > start && source[end - 2] == '\r') return source.substr(end - 2, 2);
  return source.substr(end - 1, 1);
}

}  // namespace

std::string apply_edits(std::string_view source, const std::vector<RenumberEdit>& edits) {
  std::string out;
  out.reserve(source.size() + 16 * edits.size());
  std::size_t at = 0;
  for (const RenumberEdit& edit : edits) {
    if (edit.from < at || edit.to > source.size() || edit.to < edit.from) continue;
    out.append(source.substr(at, edit.from - at));
    out.append(edit.text);
    at = edit.to;
  }
  out.append(source.substr(at));
  return out;
}

bool parse_start_step(std::string_view text, std::uint64_t& start, std::uint64_t& step) {
  const std::size_t comma = text.find(',');
  const std::string_view first = text.substr(0, comma);
  const auto read = [](std::string_view digits, std::uint64_t& out) {
    if (digits.empty() || digit_run(digits) != digits.size()) return false;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), out);
    return error == std::errc() && end == digits.data() + digits.size();
  };
  std::uint64_t s = 0;
  std::uint64_t t = 10;
  if (!read(first, s)) return false;
  if (comma != std::string_view::npos && (!read(text.substr(comma + 1), t) || t == 0)) return false;
  start = s;
  step = t;
  return true;
}

std::string select_lines(const Analysis& analysis, std::size_t from, std::size_t to,
                         RenumberRequest& request) {
  const std::string verb =
      request.kind == RenumberRequest::Kind::Move ? "cannot move lines: " : "cannot renumber: ";
  const LineNumberUse* first = nullptr;
  const LineNumberUse* last = nullptr;
  for (const LineNumberUse& label : analysis.labels) {
    if (label.place.offset < from || label.place.offset >= to) continue;
    if (first == nullptr) first = &label;
    last = &label;
  }
  if (first == nullptr) return verb + "no line number begins a line of the selection";
  std::uint64_t low = 0;
  std::uint64_t high = 0;
  for (const auto& [use, value] : {std::pair{first, &low}, std::pair{last, &high}}) {
    const std::string& number = use->number;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), *value);
    if (error != std::errc() || end != number.data() + number.size())
      return verb + "line " + number + " is too large";
  }
  request.from = low;
  request.to = high;
  return {};
}

RenumberResult renumber(std::string_view source, const RenumberRequest& request,
                        const SessionOptions& options) {
  RenumberResult result;
  const bool moving = request.kind == RenumberRequest::Kind::Move;
  const std::string verb = moving ? "cannot move lines: " : "cannot renumber: ";
  const auto refuse = [&](std::string message, std::int64_t line) {
    RenumberResult r;
    r.refusal = std::move(message);
    r.refusal_line = line;
    return r;
  };
  if (const std::string refusal = refuse_constants(options.defines); !refusal.empty())
    return refuse(verb + refusal, 0);
  if (request.step == 0) return refuse(verb + "the step must be at least 1", 0);
  Scan s = scan(source, options);
  std::optional<Refusal> refusal;
  const std::vector<std::size_t> range = range_of(s, request, verb, refusal);
  if (refusal) return refuse(refusal->message, refusal->line);

  // The new numbers, and the new order of the lines.
  std::map<std::string, std::uint64_t> mapping;
  std::vector<std::size_t> order;  // the lines in the order of the new text
  std::vector<std::size_t> renumbered;
  std::vector<std::uint64_t> numbers;
  const std::size_t first = range.front();
  const std::size_t last = range.back();
  std::optional<std::size_t> target;  // a move: the line after which the range goes
  if (!moving) {
    for (std::size_t k = 0; k < s.lines.size(); ++k)
      order.push_back(k);
    std::uint64_t number = request.start;
    for (std::size_t k = 0; k < range.size(); ++k) {
      if (k > 0) {
        if (number > kMax - request.step)
          return refuse(verb + "the new numbers do not fit in 64 bits", 0);
        number += request.step;
      }
      renumbered.push_back(range[k]);
      numbers.push_back(number);
    }
  } else {
    const std::string after = std::to_string(request.after);
    for (std::size_t k = 0; k < s.lines.size(); ++k) {
      if (s.lines[k].number == after) target = k;
    }
    if (!target && request.after != 0) return refuse(verb + "no line is numbered " + after, 0);
    if (target && *target >= first && *target <= last)
      return refuse(verb + "line " + after + " is among the lines moved", s.lines[*target].line);
    // The new order: the range taken out and put after the target (or first).
    for (std::size_t k = 0; k < s.lines.size(); ++k) {
      if (k >= first && k <= last) continue;
      if (!target && order.empty()) order.insert(order.end(), range.begin(), range.end());
      order.push_back(k);
      if (target && k == *target) order.insert(order.end(), range.begin(), range.end());
    }
    if (order.size() < s.lines.size()) order.insert(order.end(), range.begin(), range.end());
    const std::size_t p =
        static_cast<std::size_t>(std::find(order.begin(), order.end(), first) - order.begin());
    const auto value = [&](std::size_t k) { return value_of(s.lines[order[k]].number); };
    std::uint64_t low = 0;  // the numbers go above it (0: from 1 on, at the start)
    if (p > 0) {
      const std::optional<std::uint64_t> v = value(p - 1);
      if (!v) return refuse(verb + "line " + s.lines[order[p - 1]].number + " is too large", 0);
      low = *v;
    }
    // The lines moved keep their numbers where they fit; else they, and as few lines after them
    // as need be, are numbered by the step or less.
    std::size_t q = p + range.size();
    const std::uint64_t ceiling = request.largest ? *request.largest : kMax;
    for (;;) {
      std::uint64_t bound = ceiling;  // the numbers stay below it (or at most the ceiling)
      bool bounded = q < order.size();
      if (bounded) {
        const std::optional<std::uint64_t> v = value(q);
        if (!v) return refuse(verb + "line " + s.lines[order[q]].number + " is too large", 0);
        bound = *v;
      }
      const std::uint64_t count = q - p;
      // Kept as they are?
      if (q == p + range.size()) {
        bool fit = true;
        std::uint64_t before = low;
        for (std::size_t k = p; k < q && fit; ++k) {
          const std::optional<std::uint64_t> v = value(k);
          fit = v && (*v > before || (k == 0 && p == 0 && *v >= before)) &&
                (bounded ? *v < bound : *v <= bound);
          if (v) before = *v;
        }
        if (fit) {
          for (std::size_t k = p; k < q; ++k) {
            renumbered.push_back(order[k]);
            numbers.push_back(*value(k));
          }
          break;
        }
      }
      const std::uint64_t room = bound - low - (bounded ? 1 : 0);
      if (bound > low && room >= count) {
        std::uint64_t gap = std::min<std::uint64_t>(request.step, (bound - low) / (count + 1));
        if (!bounded) gap = std::min<std::uint64_t>(request.step, room / count);
        gap = std::max<std::uint64_t>(gap, 1);
        for (std::size_t k = p; k < q; ++k) {
          renumbered.push_back(order[k]);
          numbers.push_back(low + gap * (k - p + 1));
        }
        break;
      }
      if (!bounded)
        return refuse(
            verb + "there is no room for the lines moved" +
                (request.largest ? " below the largest line number " + std::to_string(ceiling)
                                 : std::string()),
            0);
      ++q;
    }
    // A move takes no line with an error, a DEFINE, or output that runs on into the next line.
    const std::size_t span_from = std::min(first, target ? *target + 1 : 0);
    const std::size_t span_to = std::max(last, target ? *target : 0);
    const Analysis& a = s.analysis;
    for (std::size_t k = span_from; k <= span_to; ++k) {
      const ProgramLine& line = s.lines[k];
      for (const KeptDiagnostic& d : a.diagnostics) {
        if (d.is_error() && d.line >= line.line && d.line <= line.last_line)
          return refuse(verb + "line " + line.number + " has an error at " + line_word(d.line) +
                            "; fix it first",
                        d.line);
      }
      for (const Definition& d : a.definitions) {
        if (d.place.line >= line.line && d.place.line <= line.last_line)
          return refuse(verb + "line " + line.number + " holds the DEFINE of " + d.name + " (" +
                            line_word(d.place.line) +
                            "): moving it would change which lines see the constant",
                        d.place.line);
      }
    }
    // Past the character that stops the conversion nothing is written, so whether a line's output
    // runs on into the next one cannot be read from it.
    const auto stop = std::find_if(a.diagnostics.begin(), a.diagnostics.end(), [](const auto& d) {
      return !d.note && d.kind == DiagnosticKind::UnknownCharacter;
    });
    const std::size_t check_from = target ? std::min(*target, first == 0 ? 0 : first - 1) : 0;
    for (std::size_t k = check_from; k <= span_to; ++k) {
      const ProgramLine& line = s.lines[k];
      if (stop != a.diagnostics.end() && line.last_line >= stop->line)
        return refuse(verb + "line " + line.number + " comes after the conversion's stop at " +
                          line_word(stop->line) +
                          ", where nothing is written to tell how lines run on; fix the stop first",
                      stop->line);
      const std::uint64_t end = a.output_start[std::min(static_cast<std::size_t>(line.last_line),
                                                        a.output_start.size() - 1)];
      const std::uint64_t begin = a.output_start[static_cast<std::size_t>(line.line) - 1];
      if (end > begin && (end < 2 || a.output.compare(end - 2, 2, "\r\n") != 0))
        return refuse(verb + "the output of line " + line.number + " (" +
                          line_word(line.last_line) +
                          ") runs on into the next line's, which a move would change",
                      line.last_line);
    }
    // The unnumbered lines before the first line, when the range goes first.
    if (!target && s.lines.front().start > 0) {
      const std::uint64_t end = a.output_start[static_cast<std::size_t>(s.lines.front().line) - 1];
      if (end > 0 && (end < 2 || a.output.compare(end - 2, 2, "\r\n") != 0))
        return refuse(verb + "the output before line " + s.lines.front().number +
                          " runs on into it, which a move would change",
                      s.lines.front().line);
    }
  }
  for (std::size_t k = 0; k < renumbered.size(); ++k)
    mapping.emplace(s.lines[renumbered[k]].number, numbers[k]);

  // The numbers fit: none past the largest, none taken, the order kept.
  if (request.largest) {
    for (std::size_t k = 0; k < renumbered.size(); ++k) {
      if (numbers[k] > *request.largest)
        return refuse(verb + "line " + s.lines[renumbered[k]].number + " would be numbered " +
                          std::to_string(numbers[k]) + ", past the largest line number " +
                          std::to_string(*request.largest),
                      s.lines[renumbered[k]].line);
    }
  }
  std::vector<bool> is_renumbered(s.lines.size(), false);
  for (std::size_t k : renumbered)
    is_renumbered[k] = true;
  std::map<std::string, std::size_t> taken;  // the numbers of the lines that keep theirs
  for (std::size_t k = 0; k < s.lines.size(); ++k) {
    if (!is_renumbered[k]) taken.emplace(s.lines[k].number, k);
  }
  for (std::size_t k = 0; k < renumbered.size(); ++k) {
    const auto found = taken.find(std::to_string(numbers[k]));
    if (found != taken.end())
      return refuse(verb + "line " + s.lines[renumbered[k]].number + " (" +
                        line_word(s.lines[renumbered[k]].line) + ") would take the number " +
                        found->first + " of the line at " + line_word(s.lines[found->second].line),
                    s.lines[renumbered[k]].line);
  }
  // The order of the new text: each line's number above the one before it.
  for (std::size_t k = 1; k < order.size(); ++k) {
    const std::string before = mapped_number(mapping, s.lines[order[k - 1]].number);
    const std::string now = mapped_number(mapping, s.lines[order[k]].number);
    if ((is_renumbered[order[k - 1]] || is_renumbered[order[k]]) &&
        compare_numbers(now, before) <= 0) {
      const ProgramLine& line = is_renumbered[order[k]] ? s.lines[order[k - 1]] : s.lines[order[k]];
      return refuse(verb + "the new numbers would break the ascending order: line " + line.number +
                        " (" + line_word(line.line) + ") " +
                        (is_renumbered[order[k]] ? "comes before" : "comes after") + " line " +
                        (is_renumbered[order[k]] ? now : before),
                    line.line);
    }
  }
  // A jump to a missing line must not find a line.
  std::vector<LineNumberUse> missing;
  {
    std::vector<std::string> numbers;
    for (const ProgramLine& line : s.lines)
      numbers.push_back(line.number);
    std::sort(numbers.begin(), numbers.end());
    for (const LineNumberUse& jump : s.analysis.jumps) {
      if (!std::binary_search(numbers.begin(), numbers.end(), jump.number)) missing.push_back(jump);
    }
  }
  for (const LineNumberUse& jump : missing) {
    for (std::size_t k = 0; k < renumbered.size(); ++k) {
      if (std::to_string(numbers[k]) == jump.number && mapping.find(jump.number) == mapping.end())
        return refuse(verb + "the jump to " + jump.number + " at " + line_word(jump.place.line) +
                          " names no line, and would jump to line " +
                          s.lines[renumbered[k]].number + " once it is numbered " + jump.number,
                      jump.place.line);
    }
  }
  // Computed targets.
  if (!s.computed.empty() && !request.past_computed) {
    const RenumberWarning& w = s.computed.front();
    RenumberResult r =
        refuse(verb + "the target of the jump at " + line_word(w.place.line) + " is computed (" +
                   quoted(source.substr(w.place.offset, w.place.length)) + ")" +
                   (s.computed.size() > 1
                        ? " and so are " + std::to_string(s.computed.size() - 1) + " more"
                        : std::string()) +
                   "; ask to go on past computed jumps to leave them as they are",
               w.place.line);
    r.refused_computed = true;
    return r;
  }
  if (std::optional<Refusal> constant = check_constants(s, mapping, verb))
    return refuse(constant->message, constant->line);
  // A CR inside a number is dropped as the converter reads it, so that its digits are not those
  // of the source: such a number is not edited.
  for (const Use& use : s.uses) {
    if (!use.constant && source.substr(use.offset, use.length).find('\r') != std::string::npos)
      return refuse(verb + "the number at " + line_word(use.line) +
                        " holds a CR byte, which the converter drops; take it out first",
                    use.line);
    if (use.constant && s.value_offset[*use.constant] != std::string_view::npos &&
        source.substr(s.value_offset[*use.constant], s.value_length[*use.constant]).find('\r') !=
            std::string::npos)
      return refuse(verb + "the value of the constant " +
                        s.analysis.definitions[*use.constant].name +
                        " holds a CR byte, which the converter drops; take it out first",
                    s.analysis.definitions[*use.constant].place.line);
  }

  // The edits: the digits, and for a move the span between the range and its new place.
  std::vector<RenumberEdit> digits = digit_edits(s, source, mapping);
  LineMove move;
  if (!moving) {
    result.edits = std::move(digits);
  } else {
    const std::size_t span_first = std::min(first, target ? *target + 1 : 0);
    const std::size_t span_last = std::max(last, target ? *target : 0);
    const std::size_t from = s.lines[span_first].start;
    const std::size_t to = s.lines[span_last].end;
    if (source.substr(from, to - from).find('\x1a') != std::string_view::npos)
      return refuse(verb +
                        "the lines moved or passed over hold the byte 0x1A, which ends the "
                        "text as the converter reads it",
                    0);
    // The lines of the span in their new order, each with its digits edited.
    std::string span;
    const auto add_line = [&](std::size_t k) {
      const ProgramLine& line = s.lines[k];
      std::vector<RenumberEdit> inside;
      for (const RenumberEdit& e : digits) {
        if (e.from >= line.start && e.to <= line.end)
          inside.push_back({e.from - line.start, e.to - line.start, e.text});
      }
      span += apply_edits(source.substr(line.start, line.end - line.start), inside);
    };
    std::vector<std::size_t> span_order;
    for (std::size_t k : order) {
      if (k >= span_first && k <= span_last) span_order.push_back(k);
    }
    // A final line without its line end gets the one of the line before it, and the line that
    // now ends the text loses its own.
    const bool at_end = to == source.size();
    const ProgramLine& old_last = s.lines[span_last];
    const bool open_end = at_end && line_end_of(source, old_last.start, old_last.end).empty();
    for (std::size_t n = 0; n < span_order.size(); ++n) {
      const std::size_t k = span_order[n];
      add_line(k);
      if (open_end && k == span_last && n + 1 < span_order.size()) {
        std::string_view end =
            line_end_of(source, s.lines[span_first].start, s.lines[span_last].start);
        if (end.empty()) end = "\n";
        span += end;
      }
    }
    // An empty line at the end keeps its line end, which is all it holds.
    if (open_end && span_order.back() != span_last) {
      const std::string_view end = line_end_of(span, 0, span.size());
      if (span.size() > end.size() && span[span.size() - end.size() - 1] != '\n')
        span.resize(span.size() - end.size());
    }
    for (const RenumberEdit& e : digits) {
      if (e.to <= from) result.edits.push_back(e);
    }
    result.edits.push_back({from, to, span});
    for (const RenumberEdit& e : digits) {
      if (e.from >= to) result.edits.push_back(e);
    }
    // Where each source line goes.
    const auto lines = static_cast<std::int64_t>(s.analysis.output_start.size()) - 1;
    move.to.resize(static_cast<std::size_t>(lines) + 1);
    for (std::int64_t l = 0; l <= lines; ++l)
      move.to[static_cast<std::size_t>(l)] = l;
    std::int64_t next = s.lines[span_first].line;
    for (std::size_t k : span_order) {
      for (std::int64_t l = s.lines[k].line; l <= s.lines[k].last_line; ++l) {
        if (static_cast<std::size_t>(l) < move.to.size())
          move.to[static_cast<std::size_t>(l)] = next;
        ++next;
      }
    }
  }
  result.text = apply_edits(source, result.edits);

  // The proof.
  Analysis after;
  if (const std::string difference = prove(s, result.text, options, mapping, move, after);
      !difference.empty())
    return refuse(verb + "the renumbered text does not convert as the source does (" + difference +
                      "); this is a fault of vorpex: please report it",
                  0);
  result.output = std::move(after.output);
  for (std::size_t k : order) {
    if (is_renumbered[k])
      result.numbers.emplace_back(s.lines[k].number, mapping[s.lines[k].number]);
  }
  for (const LineNumberUse& jump : missing)
    result.warnings.push_back(
        {"missing-line-target", "no line begins with the number " + jump.number, jump.place});
  if (request.past_computed) {
    for (const RenumberWarning& w : s.computed)
      result.warnings.push_back(w);
  }
  join_warnings_order(result.warnings);
  return result;
}

}  // namespace vorpex

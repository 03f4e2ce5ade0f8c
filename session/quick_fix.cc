#include "session/quick_fix.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "engine/messages.h"
#include "engine/tokenizer.h"

namespace vorpex {

namespace {

struct Candidate {
  QuickFix fix;
  FixKind kind = FixKind::QuoteBlank;
  bool frees_stop = false;
};

// Where the line (as the converter reads lines: LF ends one) that holds `offset` starts, and where
// the next one starts (the text's end for the last one).
std::pair<std::size_t, std::size_t> line_around(std::string_view text, std::size_t offset) {
  const std::size_t lf = offset == 0 ? std::string_view::npos : text.rfind('\n', offset - 1);
  const std::size_t start = lf == std::string_view::npos ? 0 : lf + 1;
  const std::size_t end = text.find('\n', offset);
  return {start, end == std::string_view::npos ? text.size() : end + 1};
}

// The fix that moves what begins at `at` to a line of its own: the blanks before it go, and a
// line break of the line's own kind comes instead.
QuickFix move_to_own_line(std::string_view text, std::size_t at, std::string title) {
  const auto [start, next] = line_around(text, at);
  std::size_t from = at;
  while (from > start && (text[from - 1] == ' ' || text[from - 1] == '\t'))
    --from;
  const bool crlf = next >= 2 && text[next - 1] == '\n' && text[next - 2] == '\r';
  return {std::move(title), from, at, crlf ? "\r\n" : "\n"};
}

// Where the apostrophe that begins a comment stands on the line [start, end) of the text, as the
// tokens of the line read it; npos for none.
std::size_t comment_at(std::string_view text, std::size_t start, std::size_t end) {
  std::string line(text.substr(start, end - start));
  Tokenizer tokenizer;
  tokenizer.set_line(line.data());
  for (;;) {
    const TokenKind kind = tokenizer.next_token();
    if (kind == TokenKind::None || tokenizer.at_line_end()) return std::string_view::npos;
    if (kind == TokenKind::Delimiter && tokenizer.delimiter_char() == '\'')
      return start + static_cast<std::size_t>(tokenizer.token_text().data() - line.data());
  }
}

bool all_digits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::size_t leading_digits(std::string_view text) {
  std::size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9')
    ++digits;
  return digits;
}

// The label that begins at `offset`, or null.
const LineNumberUse* label_at(const Analysis& analysis, std::size_t offset) {
  const auto found = std::lower_bound(
      analysis.labels.begin(), analysis.labels.end(), offset,
      [](const LineNumberUse& use, std::size_t at) { return use.place.offset < at; });
  return found != analysis.labels.end() && found->place.offset == offset ? &*found : nullptr;
}

// The label of input line `line`, or null.
const LineNumberUse* label_of_line(const Analysis& analysis, std::int64_t line) {
  const auto found =
      std::lower_bound(analysis.labels.begin(), analysis.labels.end(), line,
                       [](const LineNumberUse& use, std::int64_t l) { return use.place.line < l; });
  return found != analysis.labels.end() && found->place.line == line ? &*found : nullptr;
}

// The fixes to try for a warning, the one the user most likely means first.
std::vector<Candidate> candidates(const IncrementalAnalysis& kept, std::string_view text,
                                  const KeptDiagnostic& d) {
  const Analysis& analysis = kept.analysis();
  std::vector<Candidate> list;
  switch (d.kind) {
    case DiagnosticKind::QuoteInWord: {
      Candidate c{{"Insert a blank before the quote", d.offset, d.offset, " "},
                  FixKind::QuoteBlank};
      // The conversion stops on this line at what the quote left outside its string: the fix may
      // take the stop away, and the lines after it then reach the output.
      if (kept.stopped_line() == d.line) {
        c.frees_stop = true;
        c.fix.title += ", and the conversion no longer stops at line " + std::to_string(d.line);
      }
      list.push_back(std::move(c));
      break;
    }
    case DiagnosticKind::UnclosedString:
      list.push_back({{"Close the string at the end of the line", d.end_offset, d.end_offset, "\""},
                      FixKind::CloseString});
      break;
    case DiagnosticKind::RemJoinsNextLine:
    case DiagnosticKind::DefineJoinsNextLine:
      list.push_back({move_to_own_line(text, d.offset,
                                       d.kind == DiagnosticKind::RemJoinsNextLine
                                           ? "Move the REM to a line of its own"
                                           : "Move the DEFINE to a line of its own"),
                      FixKind::OwnLine});
      break;
    case DiagnosticKind::NumberJoined: {
      // The number of the line that left the output line open: a blank after its digits when
      // letters follow them (`120PRINT` is one number to the converter); else the number goes,
      // the whole line when it holds nothing else, or the comment after its statement moves.
      const LineNumberUse* label = label_of_line(analysis, d.other_line);
      if (label == nullptr) break;
      const auto [start, next] = line_around(text, label->place.offset);
      const std::size_t number_end = label->place.offset + label->place.length;
      const std::string_view number = text.substr(label->place.offset, label->place.length);
      const std::string line = std::to_string(d.other_line);
      const std::size_t digits = leading_digits(number);
      if (digits > 0 && digits < number.size()) {
        list.push_back({{"Insert a blank after the line number " + std::string(number, 0, digits),
                         label->place.offset + digits, label->place.offset + digits, " "},
                        FixKind::NumberBlank});
        break;
      }
      const std::size_t rest = text.find_first_not_of(" \t\r", number_end);
      const std::size_t comment = comment_at(text, start, next);
      if (rest == std::string_view::npos || rest + 1 >= next) {
        if (next == text.size()) break;
        list.push_back(
            {{"Remove line " + line + ", which holds only the number " + std::string(number), start,
              next, ""},
             FixKind::RemoveNumber});
      } else if (comment != std::string_view::npos && comment > rest) {
        // A statement, then a comment that took the line break: the comment to a line of its own.
        list.push_back(
            {move_to_own_line(text, comment,
                              "Move the comment of line " + line + " to a line of its own"),
             FixKind::OwnLine});
      } else {
        list.push_back({{"Remove the number " + std::string(number) + " from line " + line,
                         label->place.offset, rest, ""},
                        FixKind::RemoveNumber});
      }
      break;
    }
    default:
      break;
  }
  return list;
}

// Where a place of the text stands after the fix: a start, and an end (which stays before an
// insertion at it); nothing for a place inside the bytes replaced.
struct PlaceMap {
  std::size_t from;
  std::size_t to;
  std::ptrdiff_t delta;
  std::optional<std::size_t> start(std::size_t offset) const {
    if (offset < from) return offset;
    if (offset >= to) return static_cast<std::size_t>(static_cast<std::ptrdiff_t>(offset) + delta);
    return std::nullopt;
  }
  std::optional<std::size_t> end(std::size_t offset) const {
    return offset <= from ? std::optional<std::size_t>(offset) : start(offset);
  }
};

bool same_diagnostic(const KeptDiagnostic& before, const KeptDiagnostic& after,
                     const PlaceMap& map) {
  return before.kind == after.kind && before.note == after.note &&
         map.start(before.offset) == after.offset &&
         map.end(before.end_offset) == after.end_offset && before.found == after.found;
}

// The uses of line numbers that the trial read are those before, moved, but `removed`.
bool same_uses(const std::vector<LineNumberUse>& before, std::size_t from, std::size_t to,
               const std::vector<LineNumberUse>& after, const PlaceMap& map,
               const LineNumberUse* removed) {
  std::size_t j = 0;
  for (std::size_t i = from; i < to; ++i) {
    if (&before[i] == removed) continue;
    if (j == after.size() || before[i].number != after[j].number ||
        map.start(before[i].place.offset) != after[j].place.offset)
      return false;
    ++j;
  }
  return j == after.size();
}

// The diagnostics that the trial read again are those kept, with their notes, but the warning
// and those that the fix may take away with it.
bool same_diagnostics(const Analysis& a, std::size_t index, const IncrementalAnalysis::Trial& trial,
                      FixKind kind, std::int64_t fixed_line, const PlaceMap& map) {
  const KeptDiagnostic& target = a.diagnostics[index];
  const std::vector<KeptDiagnostic>& now = trial.lines.diagnostics;
  std::size_t j = 0;
  for (std::size_t i = trial.from.diagnostics; i < trial.to.diagnostics;) {
    std::size_t end = i + 1;
    while (end < trial.to.diagnostics && a.diagnostics[end].note)
      ++end;
    if (i == index) {
      i = end;
      continue;
    }
    // What a quote in a word caused: notes about it, what stands on its line, and the line
    // number that its line (its comment, begun inside the meant string) joined.
    bool caused = false;
    for (std::size_t k = i; kind == FixKind::QuoteBlank && k < end; ++k) {
      const KeptDiagnostic& d = a.diagnostics[k];
      caused =
          caused || d.line == fixed_line ||
          (d.note && d.related_offset >= target.offset && d.related_offset < target.end_offset) ||
          (d.kind == DiagnosticKind::NumberJoined && d.other_line == fixed_line);
    }
    bool same = j + (end - i) <= now.size();
    for (std::size_t k = 0; same && k < end - i; ++k)
      same = same_diagnostic(a.diagnostics[i + k], now[j + k], map);
    if (same) {
      j += end - i;
    } else if (!caused) {
      return false;
    }
    i = end;
  }
  return j == now.size();
}

// A line's output without its line break and the blanks before it.
std::string_view statement_of(std::string_view output) {
  if (output.size() >= 2 && output.substr(output.size() - 2) == "\r\n") output.remove_suffix(2);
  while (!output.empty() && output.back() == ' ')
    output.remove_suffix(1);
  return output;
}

// The token of the trial that begins at `offset`, or null.
const TokenEvent* token_at(const IncrementalAnalysis::Trial& trial, std::size_t offset) {
  for (const TokenEvent& t : trial.lines.tokens) {
    if (t.offset == offset) return &t;
  }
  return nullptr;
}

// What the fix promises of the fixed text's tokens on the fixed line (`text` is the text before the
// fix).
bool tokens_hold(std::string_view text, const KeptDiagnostic& d, FixKind kind, const QuickFix& fix,
                 const IncrementalAnalysis::Trial& trial) {
  switch (kind) {
    case FixKind::QuoteBlank: {
      // The bytes from the quote to the next one on the line are now a string.
      const auto [start, next] = line_around(text, d.offset);
      const std::size_t close = text.find('"', d.offset + 1);
      if (close == std::string_view::npos || close >= next) return false;
      const TokenEvent* t = token_at(trial, d.offset + 1);
      return t != nullptr && t->role == TokenRole::String && t->length == close - d.offset + 1;
    }
    case FixKind::CloseString: {
      const TokenEvent* t = token_at(trial, d.offset);
      return t != nullptr && t->role == TokenRole::String && t->length == fix.from + 1 - d.offset;
    }
    case FixKind::OwnLine: {
      // No string cut: every double quote before the cut stands in a string.
      const auto [start, next] = line_around(text, fix.from);
      for (std::size_t at = text.find('"', start); at < fix.from; at = text.find('"', at + 1)) {
        const bool in_string = std::any_of(
            trial.lines.tokens.begin(), trial.lines.tokens.end(), [&](const TokenEvent& t) {
              return t.role == TokenRole::String && t.offset <= at && at < t.offset + t.length;
            });
        if (!in_string) return false;
      }
      return true;
    }
    case FixKind::RemoveNumber: {
      // Only the digits of a number, and blanks and line ends, go.
      const std::string_view gone = text.substr(fix.from, fix.to - fix.from);
      const std::size_t digits = leading_digits(gone);
      return digits > 0 && gone.find_first_not_of(" \t\r\n", digits) == std::string_view::npos;
    }
    case FixKind::NumberBlank: {
      // The number is its digits now.
      const auto label = std::find_if(trial.lines.labels.begin(), trial.lines.labels.end(),
                                      [&](const LineNumberUse& use) {
                                        return use.place.offset + use.place.length == fix.from;
                                      });
      return fix.text == " " && label != trial.lines.labels.end() &&
             all_digits(text.substr(label->place.offset, label->place.length));
    }
  }
  return false;
}

// What the fix promises of the fixed line's output, `now` (the new lines that stand for it), by
// the old one, `then`.
bool output_holds(std::string_view text, const KeptDiagnostic& d, FixKind kind,
                  std::string_view then, std::string_view now) {
  switch (kind) {
    case FixKind::QuoteBlank: {
      const std::size_t close = text.find('"', d.offset + 1);
      return close != std::string_view::npos &&
             now.find(text.substr(d.offset, close - d.offset + 1)) != std::string_view::npos;
    }
    case FixKind::CloseString:
      return now == then;
    case FixKind::OwnLine:
      return now.size() >= 2 && now.substr(now.size() - 2) == "\r\n" &&
             now.substr(0, now.size() - 2) == statement_of(then);
    case FixKind::RemoveNumber:
      return now.empty();
    case FixKind::NumberBlank: {
      const std::string_view statement = statement_of(then);
      const std::size_t digits = leading_digits(statement);
      // The digits, a blank, the statement, and the line break that the number no longer took.
      return digits > 0 && now.size() == statement.size() + 3 &&
             now.substr(0, digits) == statement.substr(0, digits) && now[digits] == ' ' &&
             now.substr(digits + 1, statement.size() - digits) == statement.substr(digits) &&
             now.substr(now.size() - 2) == "\r\n";
    }
  }
  return false;
}

}  // namespace

bool fix_holds(const IncrementalAnalysis& kept, std::string_view text, std::size_t index,
               FixKind kind, const QuickFix& fix, bool frees_stop) {
  const Analysis& a = kept.analysis();
  if (index >= a.diagnostics.size() || fix.from > fix.to || fix.to > text.size()) return false;
  const KeptDiagnostic& target = a.diagnostics[index];
  // The line that the fix edits, by the converter's count: a joined number's fix edits the line
  // that left the output line open.
  const std::int64_t line =
      target.kind == DiagnosticKind::NumberJoined ? target.other_line : target.line;
  const IncrementalAnalysis::Trial trial = kept.try_edit(text, fix.from, fix.to, fix.text, true);
  // The warning's line must be read again: after the meet, the old diagnostics stand, the
  // warning with them.
  if (!trial.read || index < trial.from.diagnostics || index >= trial.to.diagnostics) return false;
  const PlaceMap map{fix.from, fix.to,
                     static_cast<std::ptrdiff_t>(fix.text.size()) -
                         static_cast<std::ptrdiff_t>(fix.to - fix.from)};
  if (!same_diagnostics(a, index, trial, kind, line, map)) return false;

  // The line numbers and jumps: the same, but the label of a line removed, which no jump may need.
  const LineNumberUse* removed = kind == FixKind::RemoveNumber ? label_at(a, fix.from) : nullptr;
  if (kind == FixKind::RemoveNumber && fix.text.empty() && removed == nullptr) {
    removed = label_of_line(a, line);
    if (removed != nullptr && removed->place.offset >= fix.to) removed = nullptr;
  }
  if (!same_uses(a.labels, trial.from.labels, trial.to.labels, trial.lines.labels, map, removed) ||
      !same_uses(a.jumps, trial.from.jumps, trial.to.jumps, trial.lines.jumps, map, nullptr))
    return false;
  if (removed != nullptr) {
    if (kept.label_count(removed->number) == 1 && kept.is_jumped_to(removed->number)) return false;
  }
  if (!tokens_hold(text, target, kind, fix, trial)) return false;

  // The output. A line after the conversion's stop has none, before and after.
  const std::int64_t stop = kept.stopped_line();
  if (stop != 0 && stop < line) return trial.stopped_line == stop;
  const std::string_view before =
      std::string_view(a.output).substr(trial.from.output, trial.to.output - trial.from.output);
  std::string_view after = trial.lines.output;
  if (trial.stopped_line != 0)
    after.remove_suffix(
        std::min(after.size(), line_message(kUnknownTokenMessage, trial.stopped_line).size()));
  // Where old line `n`'s output starts in `before`, and new line `n`'s in `after`.
  const auto old_at = [&](std::int64_t n) {
    const auto at = static_cast<std::size_t>(a.output_start[static_cast<std::size_t>(n) - 1]);
    return std::min(std::max(at, trial.from.output), trial.to.output) - trial.from.output;
  };
  const std::int64_t added = std::count(fix.text.begin(), fix.text.end(), '\n') -
                             std::count(text.begin() + static_cast<std::ptrdiff_t>(fix.from),
                                        text.begin() + static_cast<std::ptrdiff_t>(fix.to), '\n');
  const auto new_at = [&](std::int64_t n) {
    const auto k = static_cast<std::size_t>(n - trial.first_line);
    if (n < trial.first_line || k >= trial.lines.output_start.size()) return after.size();
    const auto at = static_cast<std::size_t>(trial.lines.output_start[k]);
    return std::min(std::max(at, trial.from.output) - trial.from.output, after.size());
  };
  const std::string_view head = before.substr(0, old_at(line));
  if (after.substr(0, head.size()) != head) return false;
  const std::int64_t next_line = line + 1 + std::max<std::int64_t>(added, -1);
  if (stop == line) {
    // The stop on the fixed line: it stays (and the lines after still write nothing), or the fix
    // says that it goes.
    if (frees_stop == (trial.stopped_line == line)) return false;
    const std::string_view now =
        after.substr(head.size(), (frees_stop ? new_at(next_line) : after.size()) - head.size());
    // A stop that stays cuts the line's output where it was: only a string may change before it.
    if (!frees_stop && kind != FixKind::QuoteBlank) return now == before.substr(head.size());
    return output_holds(text, target, kind, before.substr(head.size()), now);
  }
  if (frees_stop) return false;
  const std::string_view line_output = before.substr(head.size(), old_at(line + 1) - head.size());
  std::string_view tail = before.substr(head.size() + line_output.size());
  // A fix that adds or removes lines moves the numbers that the later lines' messages name (each
  // message begins so; the kept analysis finds them by their lines' diagnostics).
  std::optional<std::string> moved;
  if (added != 0 && tail.find(kDirectiveMessageStart) != std::string_view::npos) {
    const std::size_t tail_start = trial.from.output + head.size() + line_output.size();
    moved = kept.output_renumbered(tail_start, tail_start + tail.size(), line, added);
    if (!moved) return false;
    tail = *moved;
  }
  if (after.size() < head.size() + tail.size() || after.substr(after.size() - tail.size()) != tail)
    return false;
  return output_holds(text, target, kind, line_output,
                      after.substr(head.size(), after.size() - head.size() - tail.size()));
}

std::optional<QuickFix> quick_fix(const IncrementalAnalysis& kept, std::string_view text,
                                  std::size_t index) {
  const Analysis& analysis = kept.analysis();
  if (index >= analysis.diagnostics.size()) return std::nullopt;
  const KeptDiagnostic& d = analysis.diagnostics[index];
  if (d.note || d.is_error() || d.offset > text.size()) return std::nullopt;
  for (Candidate& c : candidates(kept, text, d)) {
    if (fix_holds(kept, text, index, c.kind, c.fix, c.frees_stop)) return std::move(c.fix);
  }
  return std::nullopt;
}

}  // namespace vorpex

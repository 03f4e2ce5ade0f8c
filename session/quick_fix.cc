#include "session/quick_fix.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "engine/messages.h"
#include "engine/tokenizer.h"

namespace vorpex {

namespace {

// How the output of the line that a fix edits may change; the other lines' may not.
enum class LineOutput {
  Same,      // not at all
  Any,       // in any way (a string that the fix makes the one the user meant)
  EndsLine,  // it ends with a line break
  Gone,      // the line is gone, with its output
};

struct Candidate {
  QuickFix fix;
  std::int64_t line = 0;  // the line that the fix edits, by the converter's count
  LineOutput output = LineOutput::Same;
  const LineNumberUse* removed_label = nullptr;  // the label of a line the fix removes
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

std::optional<Candidate> candidate(const Analysis& analysis, std::string_view text,
                                   const KeptDiagnostic& d) {
  Candidate c;
  c.line = d.line;
  switch (d.kind) {
    case DiagnosticKind::QuoteInWord:
      c.fix = {"Insert a blank before the quote", d.offset, d.offset, " "};
      c.output = LineOutput::Any;
      return c;
    case DiagnosticKind::UnclosedString:
      c.fix = {"Close the string at the end of the line", d.end_offset, d.end_offset, "\""};
      return c;
    case DiagnosticKind::RemJoinsNextLine:
    case DiagnosticKind::DefineJoinsNextLine:
      c.fix = move_to_own_line(text, d.offset,
                               d.kind == DiagnosticKind::RemJoinsNextLine
                                   ? "Move the REM to a line of its own"
                                   : "Move the DEFINE to a line of its own");
      c.output = LineOutput::EndsLine;
      return c;
    case DiagnosticKind::NumberJoined: {
      // The number of the line that left the output line open goes: the whole line when it
      // holds nothing else, else the number and the blanks after it (a comment or a DEFINE then
      // begins the line, and leaves nothing in the output).
      const auto label =
          std::find_if(analysis.labels.begin(), analysis.labels.end(),
                       [&](const LineNumberUse& use) { return use.place.line == d.other_line; });
      if (label == analysis.labels.end()) return std::nullopt;
      const auto [start, next] = line_around(text, label->place.offset);
      const std::size_t number_end = label->place.offset + label->place.length;
      const std::string_view number = text.substr(label->place.offset, label->place.length);
      const std::size_t rest = text.find_first_not_of(" \t\r", number_end);
      const std::string line = std::to_string(d.other_line);
      const std::size_t comment = comment_at(text, start, next);
      if (rest == std::string_view::npos || rest + 1 >= next) {
        if (next == text.size()) return std::nullopt;
        c.fix = {"Remove line " + line + ", which holds only the number " + std::string(number),
                 start, next, ""};
      } else if (comment != std::string_view::npos && comment > rest) {
        // A statement, then a comment that took the line break: the comment to a line of its own.
        c.fix = move_to_own_line(text, comment,
                                 "Move the comment of line " + line + " to a line of its own");
        c.line = d.other_line;
        c.output = LineOutput::EndsLine;
        return c;
      } else {
        c.fix = {"Remove the number " + std::string(number) + " from line " + line,
                 label->place.offset, rest, ""};
      }
      c.line = d.other_line;
      c.output = LineOutput::Gone;
      c.removed_label = &*label;
      return c;
    }
    default:
      return std::nullopt;
  }
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

bool proven(const IncrementalAnalysis& kept, std::string_view text, std::size_t index,
            const Candidate& c) {
  const Analysis& a = kept.analysis();
  const KeptDiagnostic& target = a.diagnostics[index];
  std::string fixed(text);
  fixed.replace(c.fix.from, c.fix.to - c.fix.from, c.fix.text);
  TextChange change;
  change.add(text.size(), c.fix.from, c.fix.to);
  const IncrementalAnalysis::Trial trial = kept.try_change(fixed, change);
  // The warning's line must be read again: after the meet, the old diagnostics stand, the
  // warning with them.
  if (!trial.read || index < trial.from.diagnostics || index >= trial.to.diagnostics) return false;
  const PlaceMap map{c.fix.from, c.fix.to,
                     static_cast<std::ptrdiff_t>(c.fix.text.size()) -
                         static_cast<std::ptrdiff_t>(c.fix.to - c.fix.from)};

  // The diagnostics: each of those read again, with its notes, is there as before, but the warning
  // and those that its quote caused (they have a note about it).
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
    bool caused = false;
    for (std::size_t k = i + 1; k < end; ++k) {
      caused = caused || (target.kind == DiagnosticKind::QuoteInWord &&
                          a.diagnostics[k].related_offset >= target.offset &&
                          a.diagnostics[k].related_offset < target.end_offset);
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
  if (j != now.size()) return false;

  // The line numbers and jumps: the same, but the label of a line removed, which no jump may need.
  if (!same_uses(a.labels, trial.from.labels, trial.to.labels, trial.lines.labels, map,
                 c.removed_label) ||
      !same_uses(a.jumps, trial.from.jumps, trial.to.jumps, trial.lines.jumps, map, nullptr))
    return false;
  if (c.removed_label != nullptr) {
    const std::string& number = c.removed_label->number;
    const auto named = [&](const LineNumberUse& use) { return use.number == number; };
    if (std::count_if(a.labels.begin(), a.labels.end(), named) == 1 &&
        std::any_of(a.jumps.begin(), a.jumps.end(), named))
      return false;
  }

  // The output: every other line's the same. A line after the conversion's stop has none.
  const std::int64_t stop = kept.stopped_line();
  if (stop != 0 && stop < c.line) return true;
  const std::string_view before =
      std::string_view(a.output).substr(trial.from.output, trial.to.output - trial.from.output);
  std::string_view after = trial.lines.output;
  if (trial.stopped_line != 0)
    after.remove_suffix(
        std::min(after.size(), line_message(kUnknownTokenMessage, trial.stopped_line).size()));
  const auto at = [&](std::int64_t line) {
    return static_cast<std::size_t>(a.output_start[static_cast<std::size_t>(line) - 1]) -
           trial.from.output;
  };
  if (at(c.line) > before.size()) return false;
  const std::string_view head = before.substr(0, at(c.line));
  if (after.substr(0, head.size()) != head) return false;
  // The stop on the fixed line itself: the output up to it the same, or the stop the quote's
  // after-effect, gone with it.
  if (stop == c.line) return after == before || c.output == LineOutput::Any;
  if (at(c.line + 1) > before.size()) return false;
  const std::string_view line = before.substr(head.size(), at(c.line + 1) - head.size());
  const std::string_view tail = before.substr(head.size() + line.size());
  if (after.size() < head.size() + tail.size() || after.substr(after.size() - tail.size()) != tail)
    return false;
  const std::string_view fixed_line =
      after.substr(head.size(), after.size() - head.size() - tail.size());
  switch (c.output) {
    case LineOutput::Same:
      return fixed_line == line;
    case LineOutput::EndsLine:
      return fixed_line.size() >= 2 && fixed_line.substr(fixed_line.size() - 2) == "\r\n";
    case LineOutput::Gone:
      return fixed_line.empty();
    case LineOutput::Any:
      break;
  }
  return true;
}

}  // namespace

std::optional<QuickFix> quick_fix(const IncrementalAnalysis& kept, std::string_view text,
                                  std::size_t index) {
  const Analysis& analysis = kept.analysis();
  if (index >= analysis.diagnostics.size()) return std::nullopt;
  const KeptDiagnostic& d = analysis.diagnostics[index];
  if (d.note || d.is_error() || d.offset > text.size()) return std::nullopt;
  const std::optional<Candidate> c = candidate(analysis, text, d);
  if (!c || !proven(kept, text, index, *c)) return std::nullopt;
  return c->fix;
}

}  // namespace vorpex

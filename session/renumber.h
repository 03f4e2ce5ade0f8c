#pragma once

// Renumbering and moving the lines of a source, for every front end (the command line, the
// language server, the page), proven before it is offered.
//
// In: the source's bytes as they are (LF, CR LF or lone CR line ends; a final line with or
// without its line end), the session options the source is converted with (the constants given
// outside it, the choice of warnings), and a request:
// - Renumber: the lines numbered from `from` to `to` (the whole program when neither is given)
//   get the numbers `start`, `start + step`, ... (10 and 10 unless told);
// - Move: the lines numbered from `from` to `to` are moved to stand after the line numbered
//   `after` (0, when no line has that number: before the first line), their text moved in the
//   source, and numbered to fit there by `step` or less; when there is no room, as few of the
//   lines after them as needed are renumbered too.
//
// Out: either a refusal, which says why and changes nothing, or the edits. A renumbering edits
// only digits: each line's own number and the target of each jump (GOTO, GO TO, GOSUB, GO SUB,
// THEN, ELSE, RESTORE, RUN, the lists of ON ... GOTO/GOSUB) that names a renumbered line, and the
// value of a DEFINE whose constant stands for a line (used only first on a line or as a jump's
// target). The number a token stands for is canonical_number()'s: leading zeros and letters after
// the digits are allowed; the digits are replaced, the letters kept. Every other byte stays.
// A move also takes the lines' text from where it stood to where it goes (one edit over the span
// between), the rest of it edited as a renumbering is.
//
// Refused, nothing changed:
// - a constant of the options that cannot be defined (as refuse_constants() words it);
// - no line in the range; lines within the range that do not ascend, or repeat (both named);
// - a new number taken by a line outside the range, or one that breaks the ascending order of the
//   lines before and after the range; a new number past `largest` (when given); a new number that
//   a jump to a missing line names (the jump would find a line it did not find before);
// - a jump whose target is computed (GOTO X, GOSUB N*100, ON X GOTO A), unless
//   `past_computed`: it is then left as it is, and reported in `warnings`;
// - a constant that stands for a renumbered line and is also used as a value (its uses named), or
//   one given outside the source (-D, the server's settings, the page) that stands for one;
// - for a move: a target inside the lines moved, an error or a DEFINE in the lines moved or passed
//   over, or a line among them whose output runs on into the next line's;
// - a renumbering whose proof fails: the renumbered text is converted and held to the original:
//   the same output token for token but for the numbers (each old number mapped to its new one),
//   the same diagnostics by code on the same lines (moved with their text), the same line numbers
//   and jumps (mapped), the same jumps to missing lines and the same constants (mapped). The
//   message names the first difference and asks for it to be reported as a fault.
// A jump to a number that begins no line is left as it is and reported in `warnings`
// (missing-line-target), as is a computed one left (computed-line-target).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "session/analysis.h"
#include "session/session.h"

namespace vorpex {

struct RenumberRequest {
  enum class Kind { Renumber, Move };
  Kind kind = Kind::Renumber;
  std::optional<std::uint64_t> from;     // the first line number of the range; none: the first line
  std::optional<std::uint64_t> to;       // the last; none: the last line
  std::uint64_t start = 10;              // Renumber: the first new number
  std::uint64_t step = 10;               // the step between new numbers (at least 1)
  std::uint64_t after = 0;               // Move: the line after which the range goes
  std::optional<std::uint64_t> largest;  // the largest line number allowed; none: no limit
  bool past_computed = false;            // leave computed jumps as they are (each one a warning)
};

// The bytes [from, to) of the source replaced by `text`.
struct RenumberEdit {
  std::size_t from = 0;
  std::size_t to = 0;
  std::string text;
};

// A warning about a jump the renumbering left as it is.
struct RenumberWarning {
  std::string code;     // "missing-line-target" or "computed-line-target"
  std::string message;  // "no line begins with the number 15", ...
  SourceRange place;    // the jump's target (or the word after the jump, when computed)
};

struct RenumberResult {
  // Empty when the renumbering is done; else why not, "cannot renumber: ..." (or "cannot move
  // lines: ..."), and nothing else is filled but `refusal_line` and `refused_computed`.
  std::string refusal;
  std::int64_t refusal_line = 0;    // the source line (from 1, LF ending one) it is about; 0: none
  bool refused_computed = false;    // refused for a computed jump, which past_computed would leave
  std::vector<RenumberEdit> edits;  // in the order of the source, none overlapping
  std::vector<RenumberWarning> warnings;  // in the order of the source
  // Each renumbered line's old and new number, in the order of the renumbered text.
  std::vector<std::pair<std::string, std::uint64_t>> numbers;
  std::string text;    // the source with the edits applied
  std::string output;  // the renumbered text's output, as analyze() gives it (keep-going on)

  bool refused() const { return !refusal.empty(); }
};

RenumberResult renumber(std::string_view source, const RenumberRequest& request,
                        const SessionOptions& options = {});

// Takes the range of a renumbering or a move from a selection, the source's bytes [from, to): the
// lines from the first to the last whose number begins there, set in `request.from` and `to`.
// Returns why not, worded for `request.kind` ("cannot renumber: no line number begins a line of
// the selection"), or empty when the range is set. Each front end gives the bytes of the lines its
// user selected, as its editor counts them.
std::string select_lines(const Analysis& analysis, std::size_t from, std::size_t to,
                         RenumberRequest& request);

// Applies `edits` (in order, none overlapping) to `source`.
std::string apply_edits(std::string_view source, const std::vector<RenumberEdit>& edits);

// Reads "START" or "START,STEP" (decimal digits; the step at least 1), as the front ends take a
// renumbering's numbers from their users; false for anything else.
bool parse_start_step(std::string_view text, std::uint64_t& start, std::uint64_t& step);

}  // namespace vorpex

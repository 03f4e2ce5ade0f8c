#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "session/incremental_analysis.h"

namespace vorpex {

// An edit that takes a warning away: the bytes [from, to) of the text replaced by `text`.
struct QuickFix {
  std::string title;
  std::size_t from = 0;
  std::size_t to = 0;
  std::string text;
};

// The fix of the warning `index` of `kept`'s analysis of `text`, where the warning has one and the
// converter proves it: the text with the fix converts without that warning and its notes, with no
// diagnostic it did not have (a diagnostic that the warning's quote caused may go, with it), and
// with the output of every other line the same; the fixed line's output changes only as the fix
// means it to. The fixes:
// - a double quote inside a word: a blank before it (the line's output may change: its string is
//   the one the user meant);
// - a string not closed: its closing quote at the end of the line (the output stays the same);
// - a REM or DEFINE after a statement: moved to a line of its own (the line's output then ends
//   with its line break);
// - a number joined to the line before it: the number of the line that left the output line open
//   removed, the whole line when it holds nothing else (its output must be gone: a comment or a
//   DEFINE is left; and no jump may need the number).
std::optional<QuickFix> quick_fix(const IncrementalAnalysis& kept, std::string_view text,
                                  std::size_t index);

}  // namespace vorpex

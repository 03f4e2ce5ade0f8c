#pragma once

#include <cstddef>
#include <cstdint>
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

// What a fix means to do, which its proof holds the fixed line's output to:
enum class FixKind {
  QuoteBlank,    // a blank before a double quote inside a word: the bytes from that quote to the
                 // next one on the line become a string, and the line's output holds them
  CloseString,   // a closing quote at the end of the line: the string's bytes, the output the same
  OwnLine,       // a REM, DEFINE or comment after a statement moved to a line of its own: the
                 // statement's output the same, ended with its line break, no string cut, and the
                 // line moved writes nothing
  RemoveNumber,  // the number (all digits) of a line that joins the next one taken away, or the
                 // whole line when it holds nothing else: the line writes nothing (no statement
                 // goes), and no jump needs the number
  NumberBlank,   // a blank after the digits of a line number that letters follow (`120PRINT`):
                 // the number is the digits, and the line's output is the statement after it
};

// The proof of `fix`, of kind `kind`, for the warning `index` of `kept`'s analysis of `text`: the
// text with the fix converts without that warning and its notes, with no diagnostic it did not
// have (a blank before a quote may also take away what the quote caused on its line or on the line
// it joined), the fixed line's output as the kind promises, and every other line's output the
// same; but with `frees_stop` the fix says that it takes away the stop on its line, and the lines
// after it may then write what they now write.
bool fix_holds(const IncrementalAnalysis& kept, std::string_view text, std::size_t index,
               FixKind kind, const QuickFix& fix, bool frees_stop = false);

// The fix of the warning `index` of `kept`'s analysis of `text`, where the warning has one and
// fix_holds() proves it:
// - a double quote inside a word: a blank before it (its title says so when the conversion then
//   no longer stops on that line);
// - a string not closed: its closing quote at the end of the line;
// - a REM or DEFINE after a statement: moved to a line of its own;
// - a number joined to the line before it: a blank after the digits of the line number that left
//   the output line open when letters follow them; else that number removed, the whole line when
//   it holds nothing else, or the comment after its statement moved to a line of its own.
std::optional<QuickFix> quick_fix(const IncrementalAnalysis& kept, std::string_view text,
                                  std::size_t index);

}  // namespace vorpex

#pragma once

#include <string>
#include <string_view>

namespace vorpex {

// What the converter's tokenizer makes of a piece of text, for the front ends that offer to write
// some: the rules come from the tokens, so that an editor's rename and completion cannot disagree
// with the conversion.

// Why `name` is not a name the converter reads back as the same one word (a word of its own, not
// REM or DEFINE), in words for the user; empty when it is one.
std::string one_word_problem(std::string_view name);
inline bool is_one_word(std::string_view name) {
  return one_word_problem(name).empty();
}

// True when `before`, a line's text up to the cursor, ends where a jump's line number can stand
// (after GOTO, GOSUB, THEN, ELSE, RESTORE, RUN, GO TO or GO SUB, or after a comma of the list of a
// jump), with the digits being typed, if any, left out; never in a string or a comment.
bool expects_line_number(std::string_view before);

}  // namespace vorpex

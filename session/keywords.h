#pragma once

#include <string_view>
#include <vector>

namespace vorpex {

// The dialect's usual keywords, from editors/keywords.json (the list that the editors' grammar and
// syntax files are made from too). Words are matched in any case.

// True when `word` is one of the keywords.
bool is_keyword(std::string_view word);
// True when `word` names a line number after it: GOTO, GOSUB, THEN, ELSE, RESTORE, RUN.
bool is_jump_word(std::string_view word);
// Every keyword, upper case.
std::vector<std::string_view> keywords();

}  // namespace vorpex

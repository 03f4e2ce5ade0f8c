#include "session/words.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "session/analysis.h"
#include "session/keywords.h"

namespace vorpex {
namespace {

// A name is one word when the converter reads it back as that word: each row is also checked by
// converting `DEFINE NAME = 1` and a use of it.
TEST(Words, ANameIsWhatTheConverterReadsAsOneWord) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"Top", ""},
      {"A1", ""},
      {"X\"Y", "'X\"Y' holds a double quote, which would take the text after it into every use"},
      {"A\x1A", "'A\x1A' holds the byte 0x1A, which ends the converter's input"},
      {"A\tB", "'A\tB' holds a TAB, which ends a word"},
      {"A\x01", "'A\x01' holds the control byte 0x01"},
      {"two words", "'two words' holds a blank, which ends a word"},
      {"1A", "'1A' does not begin with a letter, as a name does"},
      {"A+B", "'A+B' is not one word: the converter reads 'A' and then '+B'"},
      {"rem", "'rem' is a word of the converter's own"},
      {"", "a name cannot be empty"},
  };
  for (const auto& [name, problem] : rows) {
    EXPECT_EQ(one_word_problem(name), problem) << name;
    if (!problem.empty()) continue;
    const Analysis a = analyze("DEFINE " + name + " = 1\n10 PRINT " + name + "\n");
    EXPECT_TRUE(a.diagnostics.empty()) << name;
    ASSERT_EQ(a.references.size(), 1U) << name;
  }
}

TEST(Words, ALineNumberStandsWhereAJumpNamesOne) {
  const std::vector<std::pair<std::string, bool>> rows = {
      {"30 GOTO ", true},
      {"30 gosub 1", true},
      {"30 GO TO ", true},
      {"30 ON X GOTO 10, ", true},
      {"30 IF A$ = \"B\" THEN ", true},
      {"30 PRINT ", false},
      {"30 X = 10, ", false},
      // In a string or a comment, a jump's word is text.
      {"30 PRINT \"GOTO ", false},
      {"30 REM GOTO ", false},
      {"30 X=1 ' GOTO ", false},
      {"30 PRINT \"GOTO 10\" ", false},
  };
  for (const auto& [before, expected] : rows)
    EXPECT_EQ(expects_line_number(before), expected) << before;
}

// Every keyword in any case, and nothing that only looks like one.
TEST(Words, KeywordsAreFoundInAnyCaseAndOnlyWhole) {
  for (const std::string_view keyword : keywords()) {
    std::string lower(keyword);
    for (char& c : lower)
      c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
    EXPECT_TRUE(is_keyword(keyword)) << keyword;
    EXPECT_TRUE(is_keyword(lower)) << lower;
    EXPECT_FALSE(is_keyword(std::string(keyword) + "X")) << keyword;
    EXPECT_FALSE(is_keyword(std::string(keyword) + '\0')) << keyword;
    EXPECT_FALSE(is_keyword(keyword.substr(0, keyword.size() - 1))) << keyword;
  }
  for (const std::string_view word : {"", "PRINTPRINTPRINTPRINT", "gOsUb", "RUN"}) {
    EXPECT_EQ(is_jump_word(word), word == "gOsUb" || word == "RUN") << word;
  }
}

}  // namespace
}  // namespace vorpex

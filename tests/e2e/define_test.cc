// DEFINE directives and the substitution of defined names, through the real binary.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "harness.h"

namespace vorpex_e2e {
namespace {

std::string error_line(const std::string& what, int line) {
  return "\r\nPREPROCESSOR ERROR: " + what + "... LINE: " + std::to_string(line) + "\r\n";
}
std::string equals_expected(int line) {
  return error_line("'=' EXPECTED", line);
}
std::string value_expected(int line) {
  return error_line("SYMBOL OR NUMBER EXPECTED", line);
}
std::string existing_symbol(int line) {
  return error_line("EXISTING SYMBOL OR TABLE IS FULL", line);
}

// 1000 definitions fill the table; line 1001 tries one more.
std::string fill_table() {
  std::string text;
  for (int i = 0; i < 1000; ++i)
    text += "DEFINE S" + std::to_string(i) + " = " + std::to_string(i) + "\n";
  return text + "DEFINE OVER = 1\nPRINT S0 S999 OVER\n";
}

const std::vector<Conversion> kDefines = {
    // Substitution.
    {"ValueReplacesName", "DEFINE MAX = 100\nFOR I = 1 TO MAX\n", "FOR I=1 TO 100\r\n", 0, false},
    {"MatchedUpperCased", "define out = print\nout X\n", "PRINT X\r\n", 0, false},
    {"AnyCaseOfName", "DEFINE max = 3\nprint Max\n", "PRINT 3\r\n", 0, false},
    {"NumberValueUpperCased", "DEFINE H = 0x1f\nPRINT H\n", "PRINT 0X1F\r\n", 0, false},
    {"NoRepeatedSubstitution", "DEFINE A = B\nDEFINE B = 7\nPRINT A\n", "PRINT B\r\n", 0, false},
    {"KnownOnlyAfterDefinition", "PRINT X\nDEFINE X = 1\nPRINT X\n", "PRINT X\r\nPRINT 1\r\n", 0,
     false},
    {"NotInStringsOrNumbers", "DEFINE X = 5\nPRINT \"X\"; 1X\n", "PRINT \"X\";1X\r\n", 0, false},
    {"NumericValueJoinsLikeLabel", "DEFINE N = 5\nN\nPRINT\n", "5 PRINT\r\n", 0, false},
    {"WordValueDoesNotJoin", "DEFINE W = PRINT\nW\nX\n", "PRINT\r\nX\r\n", 0, false},
    {"NumericValueEndsLabel", "DEFINE N = 5\n10 GOTO N ' c\nX\n", "10 GOTO 5\r\nX\r\n", 0, false},
    {"BlankBeforeValue", "DEFINE X = 5\nA X\n", "A 5\r\n", 0, false},
    {"WordRunsThroughQuote", "DEFINE P = PRINT\nP\"HI\"\n", "P\"HI\"\r\n", 0, false},
    // An output many times the input's size: a small file's buffers are sized to it.
    {"OutputManyTimesTheInput", "DEFINE V = " + repeat("A", 300) + "\n" + repeat("V V V V\n", 40),
     repeat(repeat("A", 300) + " " + repeat("A", 300) + " " + repeat("A", 300) + " " +
                repeat("A", 300) + "\r\n",
            40),
     0, false},
    // Where a directive stands.
    {"RestOfLineIgnored", "DEFINE X = 1 junk\n", "", 0, false},
    {"RestOfLineIgnoredValueKept", "DEFINE X = 1 junk\nPRINT X\n", "PRINT 1\r\n", 0, false},
    {"AfterLabel", "10 DEFINE X = 1\nPRINT X\n", "10 PRINT 1\r\n", 0, false},
    {"AfterTokens", "PRINT 1 DEFINE X = 2\n", "PRINT 1 ", 0, false},
    // Malformed directives.
    {"EqualsMissing", "DEFINE X 5\n", equals_expected(1) + "\r\n", 0, false},
    {"EqualsMissingAtLineEnd", "DEFINE X\n", equals_expected(1), 0, false},
    {"MessageCountsLines", "\nREM\nDEFINE X\n", equals_expected(3), 0, false},
    {"StringValue", "DEFINE X = \"s\"\n", value_expected(1) + "\r\n", 0, false},
    {"ValueMissing", "DEFINE X =\n", value_expected(1), 0, false},
    {"OperatorValue", "DEFINE X = + 3\n", value_expected(1) + "3\r\n", 0, false},
    {"NumberAsName", "DEFINE 5 = 3\n", "=3\r\n", 0, false},
    {"KeywordAlone", "DEFINE\n", "", 0, false},
    {"OnlyNumberAfterKeyword", "DEFINE 5\n", "\r\n", 0, false},
    {"OnlyOperatorAfterKeyword", "DEFINE +\n", "\r\n", 0, false},
    {"TwoNumbersAfterName", "DEFINE X 5 6\n", equals_expected(1) + " 6\r\n", 0, false},
    {"ApostropheAfterName", "DEFINE X 'note\n", equals_expected(1) + "NOTE\r\n", 0, false},
    {"ApostropheAfterKeyword", "DEFINE 'hello world\n", "HELLO WORLD\r\n", 0, false},
    {"UnknownAfterKeyword", "DEFINE :\n", unknown_error(1), 0, true},
    {"UnknownAfterName", "DEFINE X :\n", equals_expected(1) + unknown_error(1), 0, true},
    {"Redefinition", "DEFINE A = 1\nDEFINE a = 2\nPRINT A\n", existing_symbol(2) + "PRINT 1\r\n", 0,
     false},
    {"TableFull", fill_table(), existing_symbol(1001) + "PRINT 0 999 OVER\r\n", 0, false},
};

class DefineTest : public testing::TestWithParam<Conversion> {};

TEST_P(DefineTest, OutputConsoleAndStatus) {
  expect_conversion(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Vorpex, DefineTest, testing::ValuesIn(kDefines),
                         [](const testing::TestParamInfo<Conversion>& info) {
                           return info.param.name;
                         });

std::optional<std::string> example(const std::string& name) {
  std::ifstream file(std::string(VORPEX_EXAMPLES_DIR) + "/" + name, std::ios::binary);
  if (!file) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(file), {});
}

TEST(ExampleTest, Blink) {
  std::optional<std::string> source = example("blink.bas");
  std::optional<std::string> expected = example("blink.expected");
  ASSERT_TRUE(source && expected) << "examples/blink.bas or examples/blink.expected is missing";
  expect_conversion({"Blink", *source, *expected, 0, false});
}

}  // namespace
}  // namespace vorpex_e2e

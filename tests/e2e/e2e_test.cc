// Conversions through the real binary: input bytes in, output-file bytes, console and status out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness.h"

namespace vorpex_e2e {
namespace {

using namespace std::string_literals;  // "..."s keeps embedded NUL bytes

std::string upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

const std::string kLine399 = repeat("A+", 199) + "B";
const std::string kLine5000 = repeat("ab+", 1666) + "cd";

const std::vector<Conversion> kConversions = {
    // Blanks, operators and case.
    {"IfThenGoto", "  IF A > 10 THEN GOTO 100\n", "IF A>10 THEN GOTO 100\r\n", 0, false},
    {"StringKeepsCase", "print \"MiXed\" ; y\n", "PRINT \"MiXed\";Y\r\n", 0, false},
    {"AdjacentStrings", "PRINT \"A\" \"B\"\n", "PRINT \"A\" \"B\"\r\n", 0, false},
    {"StringsWithoutBlank", "PRINT \"A\"\"B\"\n", "PRINT \"A\" \"B\"\r\n", 0, false},
    {"StringThenWordAndNumber", "PRINT \"A\"B\"C\"1\n", "PRINT \"A\" B\"C\"1\r\n", 0, false},
    {"NumberKeepsCase", "x = 0x1f + y\n", "X=0x1f+Y\r\n", 0, false},
    {"TwoNumbers", "5 5\n", "5 5\r\n", 0, false},
    {"WordOperatorWord", "a+b\n", "A+B\r\n", 0, false},
    {"AllOperators", "a & b|c + d-e * f/g % h=i ; j( k ),l > m<n\n",
     "A&B|C+D-E*F/G%H=I;J(K),L>M<N\r\n", 0, false},
    {"TabsAreBlanks", "\tPRINT\tX\t;\t1\t\n", "PRINT X;1\r\n", 0, false},
    {"StringKeepsBlanksAndOperators", "PRINT \"Hello, World\t+ 'x'\"\n",
     "PRINT \"Hello, World\t+ 'x'\"\r\n", 0, false},
    {"EmptyString", "PRINT \"\"\n", "PRINT \"\"\r\n", 0, false},
    {"NonTerminatorsStayInToken", "print 12ab 1.5 a$ x.y b: c_d e!f g#h i?j k^2 l\xe9m 1\xff\n",
     "PRINT 12ab 1.5 A$ X.Y B: C_D E!F G#H I?J K^2 L\xe9M 1\xff\r\n", 0, false},
    {"QuoteInsideWord", "print\"hi\"\n", "PRINT\"HI\"\r\n", 0, false},
    {"QuoteInsideNumber", "PRINT 1\"a\"\n", "PRINT 1\"a\"\r\n", 0, false},
    // Unclosed strings.
    {"UnclosedString", "PRINT \"abc\n", "PRINT \"abc\"\r\n", 1, false},
    {"UnclosedStringAtEndOfInput", "PRINT \"abc", "PRINT \"abc\"\r\n", 1, false},
    {"UnclosedStringOnTwoLines", "A \"x\nB \"y\n", "A \"x\"\r\nB \"y\"\r\n", 2, false},
    {"UnclosedStringAtNul", "PRINT \"ab\0cd\"\n"s, "PRINT \"ab\"\r\n", 1, false},
    // Line labels.
    {"LabelJoinsNextLine", "10\nPRINT X\n", "10 PRINT X\r\n", 0, false},
    {"LabelAsLastLine", "10\n", "10 ", 0, false},
    {"LabelAsLastLineWithoutLineEnd", "10", "10 ", 0, false},
    {"LabelWithTrailingBlanks", "10  \t\nX\n", "10 X\r\n", 0, false},
    {"LabelSkipsEmptyAndCommentLines", "10\n\n' c\nREM r\nPRINT X\n", "10 PRINT X\r\n", 0, false},
    {"ConsecutiveLabels", "10\n20\nPRINT\n", "10 20 PRINT\r\n", 0, false},
    {"LabelThenOperators", "10 + 1\n", "10+1\r\n", 0, false},
    {"NumberThenString", "10 \"x\"\n", "10 \"x\"\r\n", 0, false},
    // REM comments.
    {"RemAfterLabel", "10 REM start\nPRINT X\n", "10 PRINT X\r\n", 0, false},
    {"RemLine", "REM whole line\nA = 1\n", "A=1\r\n", 0, false},
    {"RemInsideLine", "PRINT X REM note\nPRINT Y\n", "PRINT X PRINT Y\r\n", 0, false},
    {"RemAfterOperator", "A = rem x\nB\n", "A=B\r\n", 0, false},
    {"RemAnyCase", "Rem Hi\nrem\nA\n", "A\r\n", 0, false},
    {"RemAsLastLine", "PRINT X REM", "PRINT X ", 0, false},
    {"RemarkIsAWord", "remark\n", "REMARK\r\n", 0, false},
    // Apostrophe comments.
    {"ApostropheLine", "' note\n", "", 0, false},
    {"ApostropheAfterTokens", "PRINT X ' note\n", "PRINT X\r\n", 0, false},
    {"ApostropheRightAfterWord", "PRINT'x\n", "PRINT\r\n", 0, false},
    {"ApostropheAfterOperator", "A = ' x\n", "A=\r\n", 0, false},
    {"ApostropheInsideWord", "DON'T\n", "DON\r\n", 0, false},
    {"ApostropheAfterLabel", "10 ' note\nPRINT X\n", "10 PRINT X\r\n", 0, false},
    {"ApostropheEndsLabel", "10'x\nY\n", "10 Y\r\n", 0, false},
    {"ApostropheAfterLabelAsLastLine", "10 ' note", "10 ", 0, false},
    {"ApostropheAfterNumberedLine", "10 PRINT X ' note\n20 PRINT Y\n", "10 PRINT X 20 PRINT Y\r\n",
     0, false},
    {"ApostropheAfterLaterNumber", "10 GOTO 20 ' note\nPRINT Y\n", "10 GOTO 20\r\nPRINT Y\r\n", 0,
     false},
    {"ApostropheInString", "PRINT \"a'b\"\n", "PRINT \"a'b\"\r\n", 0, false},
    // Empty lines, line ends and special bytes.
    {"EmptyInput", "", "", 0, false},
    {"BlankLines", "\n    \n\t\t\n", "", 0, false},
    {"LastLineWithoutLineEnd", "PRINT X", "PRINT X\r\n", 0, false},
    {"CrLfLineEnds", "PRINT X\r\n10\r\nPRINT Y\r\n", "PRINT X\r\n10 PRINT Y\r\n", 0, false},
    {"LoneCrRemoved", "A\rB\nPR\rINT \"a\rb\"\r", "AB\r\nPRINT \"ab\"\r\n", 0, false},
    {"CrOnlyLineEnds", "A\rB\rC\r", "ABC\r\n", 0, false},
    {"EndOfFileByte",
     "A\x1a"
     "B\nC\n",
     "A\r\n", 0, false},
    {"EndOfFileByteFirst", "\x1aPRINT X\n", "", 0, false},
    {"NulEndsLine", "A\0B\nC\n"s, "A\r\nC\r\n", 0, false},
    {"NulAfterBlanks", "A  \0 B\n"s, "A\r\n", 0, false},
    // Long tokens and lines are kept whole.
    {"LongWord", repeat("a", 1000) + "\n", repeat("A", 1000) + "\r\n", 0, false},
    {"LongString", "PRINT \"" + repeat("x", 500) + "\"\n", "PRINT \"" + repeat("x", 500) + "\"\r\n",
     0, false},
    {"LongNumber", repeat("9", 300) + " x\n", repeat("9", 300) + " X\r\n", 0, false},
    {"Line399ThenUnknown", kLine399 + "\n:\n", kLine399 + "\r\n" + unknown_error(2), 0, true},
    {"Line5000ThenUnknown", kLine5000 + "\n:\n", upper(kLine5000) + "\r\n" + unknown_error(2), 0,
     true},
    {"LabelThenLongLine", "10\n" + repeat("x", 450) + "\n", "10 " + repeat("X", 450) + "\r\n", 0,
     false},
    // Characters that begin no token stop the run.
    {"UnknownMidLine", "PRINT X :PRINT Y\n", "PRINT X" + unknown_error(1), 0, true},
    {"UnknownFirst", ":\nA\n", unknown_error(1), 0, true},
    {"UnknownAfterLabel", "10\n.5\n", "10 " + unknown_error(2), 0, true},
    {"UnknownCountsEveryLine", "A\n\n' c\nREM x\n  \r\n#\nB\n", "A\r\n" + unknown_error(6), 0,
     true},
    {"UnknownAfterUnclosedString", "\"a\n?\n", "\"a\"\r\n" + unknown_error(2), 1, true},
};

class ConversionTest : public testing::TestWithParam<Conversion> {};

TEST_P(ConversionTest, OutputConsoleAndStatus) {
  expect_conversion(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Vorpex, ConversionTest, testing::ValuesIn(kConversions),
                         [](const testing::TestParamInfo<Conversion>& info) {
                           return info.param.name;
                         });

// Every byte that is neither blank, operator, quote, digit nor letter begins no token.
TEST(UnknownCharacterTest, StopsTheRunWithTheLineNumber) {
  for (char c : std::string(".:#?$!_@[]\\`~^{}\x80\xff")) {
    SCOPED_TRACE(testing::Message() << "byte " << static_cast<int>(static_cast<unsigned char>(c)));
    expect_conversion(
        {"", "x\nprint " + std::string(1, c) + "1\ny\n", "X\r\nPRINT" + unknown_error(2), 0, true});
  }
}

}  // namespace
}  // namespace vorpex_e2e

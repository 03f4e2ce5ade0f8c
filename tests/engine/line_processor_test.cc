#include "engine/line_processor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/memory_io.h"

namespace vorpex {
namespace {

struct Conversion {
  std::string output;
  std::string warnings;
  ProcessResult result;
};

Conversion convert(std::vector<std::string> lines, std::size_t buffer_size = 64) {
  testing::StringSink output;
  testing::StringSink warnings;
  testing::VectorLineSource source(std::move(lines));
  LineProcessor processor(output, &warnings, buffer_size);
  Conversion run;
  run.result = processor.process_input(source);
  run.output = output.text;
  run.warnings = warnings.text;
  return run;
}

struct Case {
  std::vector<std::string> lines;
  std::string output;
};

TEST(LineProcessorTest, CompactsLines) {
  const std::vector<Case> cases = {
      {{"  IF A > 10 THEN GOTO 100"}, "IF A>10 THEN GOTO 100\r\n"},
      {{"print \"MiXed\" ; y"}, "PRINT \"MiXed\";Y\r\n"},
      {{"PRINT \"A\" \"B\""}, "PRINT \"A\" \"B\"\r\n"},
      {{"x = 0x1f + y"}, "X=0x1f+Y\r\n"},
      {{"5 5"}, "5 5\r\n"},
      {{"a(1 ,2)=-b%c"}, "A(1,2)=-B%C\r\n"},
      {{"10", "PRINT X"}, "10 PRINT X\r\n"},
      {{"10"}, "10 "},
      {{"10", "20", "END"}, "10 20 END\r\n"},
      {{"10 REM start", "PRINT X"}, "10 PRINT X\r\n"},
      {{"REM whole line", "A = 1"}, "A=1\r\n"},
      {{"rem whole line", "A = 1"}, "A=1\r\n"},
      {{"PRINT X REM note", "PRINT Y"}, "PRINT X PRINT Y\r\n"},
      {{"remark"}, "REMARK\r\n"},
      {{"' note"}, ""},
      {{"PRINT X ' note"}, "PRINT X\r\n"},
      {{"10 ' note", "PRINT X"}, "10 PRINT X\r\n"},
      {{"10 PRINT X ' note", "20 PRINT Y"}, "10 PRINT X 20 PRINT Y\r\n"},
      {{"10 GOTO 20 ' note", "PRINT Y"}, "10 GOTO 20\r\nPRINT Y\r\n"},
      {{"PRINT \"a'b\""}, "PRINT \"a'b\"\r\n"},
      {{"", "   ", "\t\t", "A"}, "A\r\n"},
      {{"PRINT DON'T"}, "PRINT DON\r\n"},
      {{"A 1 \"s\" B"}, "A 1 \"s\" B\r\n"},
      {{"+1"}, "+1\r\n"},
      {{"X 10", "Y"}, "X 10\r\nY\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines.front());
    const Conversion run = convert(c.lines);
    EXPECT_EQ(run.output, c.output);
    EXPECT_EQ(run.result.outcome, Outcome::Done);
    EXPECT_EQ(run.warnings, "");
  }
}

TEST(LineProcessorTest, UnknownTokenStopsTheRunWithTheLineNumber) {
  const std::vector<Case> cases = {
      {{"PRINT X :PRINT Y"}, "PRINT X\r\nUNKNOWN ERROR! LINE: 1\r\n"},
      {{"A", "", "#"}, "A\r\n\r\nUNKNOWN ERROR! LINE: 3\r\n"},
      {{"\xe9t\xe9"}, "\r\nUNKNOWN ERROR! LINE: 1\r\n"},
      {{"10 ?", "PRINT"}, "10\r\nUNKNOWN ERROR! LINE: 1\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines.front());
    const Conversion run = convert(c.lines);
    EXPECT_EQ(run.output, c.output);
    EXPECT_EQ(run.result.outcome, Outcome::UnknownToken);
  }
}

TEST(LineProcessorTest, UnclosedStringWarnsAndTheLineGoesOn) {
  const Conversion run = convert({"PRINT \"abc", "B"});
  EXPECT_EQ(run.output, "PRINT \"abc\"\r\nB\r\n");
  EXPECT_EQ(run.warnings, "\r\nUNBALANCED QUOTE!\r\n");
  EXPECT_EQ(run.result.outcome, Outcome::Done);
}

TEST(LineProcessorTest, LongLinesAndTokensAreKeptWhole) {
  std::string line;
  for (int i = 0; i < 3000; ++i)
    line += "a+";
  line += std::string(700, 'b') + " \"" + std::string(900, 'c') + "\"";
  std::string expected;
  for (int i = 0; i < 3000; ++i)
    expected += "A+";
  expected += std::string(700, 'B') + " \"" + std::string(900, 'c') + "\"\r\n";
  // A small output buffer makes tokens larger than the buffer go straight to the sink.
  EXPECT_EQ(convert({line}, 16).output, expected);
}

TEST(LineProcessorTest, WriteFailureStopsTheRun) {
  testing::StringSink output;
  output.refuse = true;
  testing::VectorLineSource source({"A", "B", "C"});
  LineProcessor processor(output, nullptr, 4);
  EXPECT_EQ(processor.process_input(source).outcome, Outcome::WriteFailed);
}

}  // namespace
}  // namespace vorpex

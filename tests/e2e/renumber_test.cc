// The command line's renumbering: --renumber writes the program renumbered, --renumber-source the
// source itself; a refusal leaves every file as it was.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "harness.h"

namespace vorpex_e2e {
namespace {

const std::string kProgram = "10 PRINT \"GOTO 10\"\r\n20 IF A THEN 10 ELSE 40\r\n40 GOSUB 10\r\n";
const std::string kOld = "old\n";

struct RenumberCase {
  std::string name;
  std::string source;
  std::vector<std::string> args;  // after -i in.bas
  int status;
  std::optional<std::string> output;  // out.bas afterwards (kOld when it is left as it was)
  std::string errors;                 // a part of standard error ("" for none at all)
};

const std::vector<RenumberCase> kRenumberCases = {
    {"OutputRenumbered",
     kProgram,
     {"-o", "out.bas", "--renumber", "1,1"},
     0,
     "1 PRINT \"GOTO 10\"\r\n2 IF A THEN 1 ELSE 3\r\n3 GOSUB 1\r\n",
     ""},
    {"SourceRenumbered",
     kProgram,
     {"-o", "out.bas", "--renumber-source=100,5"},
     0,
     "100 PRINT \"GOTO 10\"\r\n105 IF A THEN 100 ELSE 110\r\n110 GOSUB 100\r\n",
     ""},
    {"DiagnosticsNameTheSourcesLines",
     "10 GOTO 30\n20 PRINT \"open\n",
     {"-o", "out.bas", "--renumber", "1"},
     0,
     "1 GOTO 30\r\n11 PRINT \"open\"\r\n",
     "in.bas:1:9: warning: no line begins with the number 30 [missing-line-target]\n"
     "in.bas:2:10: warning:"},
    {"RefusedLeavesTheOutput",
     "10 GOTO X\n20 END\n",
     {"-o", "out.bas", "--renumber", "1"},
     1,
     kOld,
     "vorpex: cannot renumber: the target of the jump at source line 1 is computed ('X'); ask "
     "to go on past computed jumps to leave them as they are (--leave-computed-jumps)\n"},
    {"ComputedJumpsLeft",
     "10 GOTO X\n20 END\n",
     {"-o", "out.bas", "--renumber", "1", "--leave-computed-jumps"},
     0,
     "1 GOTO X\r\n11 END\r\n",
     "in.bas:1:9: warning: the target of GOTO at source line 1 is computed: left as it is "
     "[computed-line-target]\n"},
    {"PastTheLargestLine",
     kProgram,
     {"-o", "out.bas", "--renumber", "9990,5", "--largest-line", "9999"},
     1,
     kOld,
     "vorpex: cannot renumber: line 40 would be numbered 10000, past the largest line number "
     "9999\n"},
    {"SourceToTheSameFile",
     kProgram,
     {"-o", "in.bas", "--renumber-source", "1"},
     1,
     kOld,
     "'in.bas' is the input file: refusing to write over it"},
};

class RenumberTest : public testing::TestWithParam<RenumberCase> {};

TEST_P(RenumberTest, OutputStatusAndErrors) {
  const RenumberCase& c = GetParam();
  Sandbox sandbox;
  sandbox.write("in.bas", c.source);
  sandbox.write("out.bas", kOld);
  std::vector<std::string> args = {"-i", "in.bas"};
  args.insert(args.end(), c.args.begin(), c.args.end());
  RunResult r = sandbox.run(args);
  EXPECT_EQ(r.status, c.status) << r.errors;
  EXPECT_EQ(r.output, c.output);
  EXPECT_EQ(sandbox.read("in.bas"), c.source);
  if (c.errors.empty()) {
    EXPECT_EQ(r.errors, "");
  } else {
    EXPECT_NE(r.errors.find(c.errors), std::string::npos) << r.errors;
  }
  expect_well_formed_errors(r.errors);
}

INSTANTIATE_TEST_SUITE_P(Vorpex, RenumberTest, testing::ValuesIn(kRenumberCases),
                         [](const testing::TestParamInfo<RenumberCase>& info) {
                           return info.param.name;
                         });

TEST(RenumberTest, SourceToStandardOutput) {
  Sandbox sandbox;
  sandbox.write("in.bas", "5 GOTO 5");
  RunResult r = sandbox.run({"-i", "in.bas", "-o", "-", "--renumber-source", "1"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.console, "1 GOTO 1");
}

}  // namespace
}  // namespace vorpex_e2e

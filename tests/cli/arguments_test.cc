#include "cli/arguments.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/support/memory_io.h"

namespace vorpex::cli {
namespace {

struct Case {
  std::vector<const char*> args;
  std::optional<int> status;
  std::string console;
  std::string input_path;
  std::string output_path;
};

constexpr const char* kUsage = "vorpex -i InpFileName -o OutFileName\n";

TEST(ArgumentsTest, ParsesTheCommandLine) {
  const std::string usage = kUsage;
  const std::vector<Case> cases = {
      {{"-i", "a.bas", "-o", "b.bas"},
       std::nullopt,
       "input file: a.bas\noutput file: b.bas\n",
       "a.bas",
       "b.bas"},
      {{"-output", "b", "-input", "a"}, std::nullopt, "output file: b\ninput file: a\n", "a", "b"},
      {{"-i", "a", "-i", "b"}, std::nullopt, "input file: a\ninput file: b\n", "b", ""},
      {{"-i", "-o", "-o", "-i"}, std::nullopt, "input file: -o\noutput file: -i\n", "-o", "-i"},
      {{"-h", "a", "b", "c"}, 0, usage, "", ""},
      {{"-i", "a", "-h", "c"}, 0, "input file: a\n" + usage, "a", ""},
      {{"-I", "a", "-o", "b"}, 1, "Unknown parameter: -I\n\n" + usage, "", ""},
      {{"a", "-i", "b", "-o"}, 1, "Unknown parameter: a\n\n" + usage, "", ""},
      {{"-", "a", "b", "c"}, 1, "Unknown parameter: -\n\n" + usage, "", ""},
      {{"", "a", "b", "c"}, 1, "Unknown parameter: \n\n" + usage, "", ""},
      {{"-i", "a.bas", "-o", "out.bas", "-x", "y"},
       1,
       "input file: a.bas\noutput file: out.bas\nUnknown parameter: -x\n\n" + usage,
       "a.bas",
       "out.bas"},
      {{"-i", "a", "-o", "b", "-o"},
       1,
       "input file: a\noutput file: b\nMissing file name for parameter: -o\n\n" + usage,
       "a",
       "b"},
      {{"-o", "b", "x", "-i"}, 1, "output file: b\nUnknown parameter: x\n\n" + usage, "", "b"},
      {{"-i", "a", "--renumber", "1,x"},
       1,
       "input file: a\nInvalid value for parameter: --renumber\n\n" + usage,
       "a",
       ""},
      {{"-i", "a", "--renumber=1,0", "-o"},
       1,
       "input file: a\nInvalid value for parameter: --renumber=1,0\n\n" + usage,
       "a",
       ""},
      {{"-i", "a", "-o", "b", "--renumber-source"},
       1,
       "input file: a\noutput file: b\nMissing value for parameter: --renumber-source\n\n" + usage,
       "a",
       "b"},
      {{"--largest-line", "1,2", "-i", "a"},
       1,
       "Invalid value for parameter: --largest-line\n\n" + usage,
       "",
       ""},
      {{"--renumbers", "1", "-i", "a"}, 1, "Unknown parameter: --renumbers\n\n" + usage, "", ""},
      {{"--leave-computed-jumps=1", "a", "b", "c"},
       1,
       "Unknown parameter: --leave-computed-jumps=1\n\n" + usage,
       "",
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front());
    testing::StringSink console;
    Arguments arguments;
    EXPECT_EQ(parse_arguments(c.args, arguments, console), c.status);
    EXPECT_EQ(console.text, c.console);
    EXPECT_EQ(arguments.input_path, c.input_path);
    EXPECT_EQ(arguments.output_path, c.output_path);
  }
}

TEST(ArgumentsTest, TakesTheRenumbering) {
  struct Row {
    std::vector<const char*> args;
    Arguments::Renumber mode;
    std::uint64_t start;
    std::uint64_t step;
    std::optional<std::uint64_t> largest;
    bool leave;
  };
  const std::vector<Row> rows = {
      {{"-i", "a", "-o", "b"}, Arguments::Renumber::None, 10, 10, std::nullopt, false},
      {{"--renumber", "1,1", "-i", "a"}, Arguments::Renumber::Output, 1, 1, std::nullopt, false},
      {{"--renumber=100", "--largest-line=9999"},
       Arguments::Renumber::Output,
       100,
       10,
       9999,
       false},
      {{"--renumber", "5", "--renumber-source", "7,3", "--leave-computed-jumps"},
       Arguments::Renumber::Source,
       7,
       3,
       std::nullopt,
       true},
  };
  for (const Row& row : rows) {
    testing::StringSink console;
    Arguments arguments;
    EXPECT_EQ(parse_arguments(row.args, arguments, console), std::nullopt) << console.text;
    EXPECT_EQ(arguments.renumber, row.mode);
    EXPECT_EQ(arguments.renumber_start, row.start);
    EXPECT_EQ(arguments.renumber_step, row.step);
    EXPECT_EQ(arguments.largest_line, row.largest);
    EXPECT_EQ(arguments.leave_computed_jumps, row.leave);
  }
}

TEST(ArgumentsTest, KeepsLongPathsWhole) {
  const std::string path(5000, 'p');
  const std::vector<const char*> args = {"-i", path.c_str(), "-o", path.c_str()};
  testing::StringSink console;
  Arguments arguments;
  EXPECT_EQ(parse_arguments(args, arguments, console), std::nullopt);
  EXPECT_EQ(arguments.input_path, path);
  EXPECT_EQ(arguments.output_path, path);
}

}  // namespace
}  // namespace vorpex::cli

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

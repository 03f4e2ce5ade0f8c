// The command line, the console messages and the handling of the two files.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "harness.h"

namespace vorpex_e2e {
namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::optional<std::string>>;

const std::string kSource = "print x\n";
const std::string kConverted = "PRINT X\r\n";
const std::string kOld = "old\n";
const std::string kOddName = "my prog \xc3\xa9.bas";
const std::string kLongName = repeat("n", 300);

std::string echo_in(const std::string& path) {
  return "input file: " + path + "\r\n";
}
std::string echo_out(const std::string& path) {
  return "output file: " + path + "\r\n";
}
std::string unknown_parameter(const std::string& arg) {
  return "Unknown parameter: " + arg + "\r\n\r\n" + kUsage;
}
std::string missing_name(const std::string& arg) {
  return "Missing file name for parameter: " + arg + "\r\n\r\n" + kUsage;
}
std::string cannot_open(const std::string& path, int error) {
  return "Could not open file: " + path + ", error: " + std::to_string(error);
}
std::string same_file(const std::string& path) {
  return "Input and output are the same file: " + path + "\r\n";
}

// Every run starts in a sandbox holding these; `files` lists what must differ afterwards from
// {prog.bas: kSource, old.bas: kOld, out.bas: absent}. Returns whether the symbolic link was made.
bool populate(const Sandbox& sandbox) {
  sandbox.write("prog.bas", kSource);
  sandbox.write("-p.bas", kSource);
  sandbox.write(kOddName, kSource);
  sandbox.write("old.bas", kOld);
  fs::create_directory(sandbox.dir() / "dir");
  fs::create_hard_link(sandbox.dir() / "prog.bas", sandbox.dir() / "hard.bas");
  return sandbox.symlink("prog.bas", "link.bas");
}

struct CliCase {
  std::string name;
  std::vector<std::string> args;
  std::string console;  // everything after the banner
  int status;
  Files files;
  Needs needs = Needs::nothing;
};

void PrintTo(const CliCase& c, std::ostream* os) {
  *os << c.name;
}

const std::string kBoth = echo_in("prog.bas") + echo_out("out.bas");

const std::vector<CliCase> kCliCases = {
    // Argument count and help.
    {"NoArguments", {}, kUsage, 2, {}},
    {"HelpAlone", {"-h"}, kUsage, 2, {}},
    {"ThreeArguments", {"-i", "prog.bas", "-o"}, kUsage, 2, {}},
    {"HelpWithFourArguments", {"-h", "a", "b", "c"}, kUsage, 0, {}},
    {"HelpAfterFiles", {"-i", "prog.bas", "-o", "out.bas", "-help"}, kBoth + kUsage, 0, {}},
    // Successful runs.
    {"Convert",
     {"-i", "prog.bas", "-o", "out.bas"},
     kBoth + kSuccess,
     0,
     {{"out.bas", kConverted}}},
    {"OutputFirst",
     {"-o", "out.bas", "-i", "prog.bas"},
     echo_out("out.bas") + echo_in("prog.bas") + kSuccess,
     0,
     {{"out.bas", kConverted}}},
    {"LongOptionNames",
     {"-input", "prog.bas", "-output", "out.bas"},
     kBoth + kSuccess,
     0,
     {{"out.bas", kConverted}}},
    {"ExistingOutputTruncated",
     {"-i", "prog.bas", "-o", "old.bas"},
     echo_in("prog.bas") + echo_out("old.bas") + kSuccess,
     0,
     {{"old.bas", kConverted}}},
    {"LastValueWins",
     {"-i", "nope.bas", "-o", "x.bas", "-i", "prog.bas", "-o", "out.bas"},
     echo_in("nope.bas") + echo_out("x.bas") + kBoth + kSuccess,
     0,
     {{"out.bas", kConverted}, {"x.bas", std::nullopt}}},
    {"InputNameStartsWithDash",
     {"-i", "-p.bas", "-o", "out.bas"},
     echo_in("-p.bas") + echo_out("out.bas") + kSuccess,
     0,
     {{"out.bas", kConverted}}},
    {"OutputNamedLikeAnOption",
     {"-o", "-i", "-i", "prog.bas"},
     echo_out("-i") + echo_in("prog.bas") + kSuccess,
     0,
     {{"-i", kConverted}}},
    {"NamesWithBlanksAndHighBytes",
     {"-i", kOddName, "-o", "out file.bas"},
     echo_in(kOddName) + echo_out("out file.bas") + kSuccess,
     0,
     {{"out file.bas", kConverted}}},
    // Unknown parameters.
    {"UpperCaseOption", {"-I", "prog.bas", "-o", "out.bas"}, unknown_parameter("-I"), 1, {}},
    {"NoDash",
     {"prog.bas", "-i", "prog.bas", "-o", "out.bas"},
     unknown_parameter("prog.bas"),
     1,
     {}},
    {"EmptyArgument", {"", "-i", "prog.bas", "-o", "out.bas"}, unknown_parameter(""), 1, {}},
    {"LoneDash", {"-", "-i", "prog.bas", "-o", "out.bas"}, unknown_parameter("-"), 1, {}},
    {"DoubleDash", {"--i", "prog.bas", "-o", "out.bas"}, unknown_parameter("--i"), 1, {}},
    {"UnknownAfterFiles",
     {"-i", "prog.bas", "-o", "out.bas", "-x", "y"},
     kBoth + unknown_parameter("-x"),
     1,
     {}},
    {"StrayWordAfterFiles",
     {"-i", "prog.bas", "-o", "out.bas", "extra"},
     kBoth + unknown_parameter("extra"),
     1,
     {}},
    // An option without its value.
    {"InputOptionLast",
     {"-i", "prog.bas", "-o", "out.bas", "-i"},
     kBoth + missing_name("-i"),
     1,
     {}},
    {"OutputOptionLast",
     {"-o", "out.bas", "-i", "prog.bas", "-output"},
     echo_out("out.bas") + echo_in("prog.bas") + missing_name("-output"),
     1,
     {}},
    // Files that cannot be opened.
    {"TwoInputsNoOutput",
     {"-i", "a.bas", "-i", "prog.bas"},
     echo_in("a.bas") + echo_in("prog.bas") + cannot_open("", 2),
     1,
     {}},
    {"MissingInputKeepsOutput",
     {"-i", "missing.bas", "-o", "old.bas"},
     echo_in("missing.bas") + echo_out("old.bas") + cannot_open("missing.bas", 2),
     1,
     {}},
    {"MissingInputCreatesNoOutput",
     {"-i", "missing.bas", "-o", "out.bas"},
     echo_in("missing.bas") + echo_out("out.bas") + cannot_open("missing.bas", 2),
     1,
     {}},
    {"InputInMissingDirectory",
     {"-i", "nodir/prog.bas", "-o", "out.bas"},
     echo_in("nodir/prog.bas") + echo_out("out.bas") + cannot_open("nodir/prog.bas", 2),
     1,
     {}},
    {"EmptyInputPath",
     {"-i", "", "-o", "out.bas"},
     echo_in("") + echo_out("out.bas") + cannot_open("", 2),
     1,
     {}},
    {"InputNameTooLong",
     {"-i", kLongName, "-o", "old.bas"},
     echo_in(kLongName) + echo_out("old.bas") + cannot_open(kLongName, 2),
     1,
     {}},
    {"InputIsDirectory",
     {"-i", "dir", "-o", "old.bas"},
     echo_in("dir") + echo_out("old.bas") + cannot_open("dir", 5),
     1,
     {}},
    {"OutputIsDirectory",
     {"-i", "prog.bas", "-o", "dir"},
     echo_in("prog.bas") + echo_out("dir") + cannot_open("dir", 5),
     1,
     {}},
    // A map that cannot be written leaves an existing output as it was.
    {"MapIsTheInputKeepsTheOutput",
     {"-i", "prog.bas", "-o", "old.bas", "--map", "prog.bas"},
     echo_in("prog.bas") + echo_out("old.bas") + "map file: prog.bas\r\n" +
         "The map file is the input or the output file: prog.bas\r\n",
     1,
     {}},
    {"MapIsADirectoryKeepsTheOutput",
     {"-i", "prog.bas", "-o", "old.bas", "--map", "dir"},
     echo_in("prog.bas") + echo_out("old.bas") + "map file: dir\r\n" + cannot_open("dir", 5),
     1,
     {}},
    {"MapInMissingDirectoryCreatesNoOutput",
     {"-i", "prog.bas", "-o", "out.bas", "--map", "nodir/m.map"},
     kBoth + "map file: nodir/m.map\r\n" + cannot_open("nodir/m.map", 2),
     1,
     {}},
    {"OutputInMissingDirectory",
     {"-i", "prog.bas", "-o", "nodir/out.bas"},
     echo_in("prog.bas") + echo_out("nodir/out.bas") + cannot_open("nodir/out.bas", 2),
     1,
     {}},
    // The output must not overwrite the input.
    {"SameFile",
     {"-i", "prog.bas", "-o", "prog.bas"},
     echo_in("prog.bas") + echo_out("prog.bas") + same_file("prog.bas"),
     1,
     {}},
    {"SameFileOtherSpelling",
     {"-i", "prog.bas", "-o", "./dir/../prog.bas"},
     echo_in("prog.bas") + echo_out("./dir/../prog.bas") + same_file("./dir/../prog.bas"),
     1,
     {}},
    {"OutputIsSymlinkToInput",
     {"-i", "prog.bas", "-o", "link.bas"},
     echo_in("prog.bas") + echo_out("link.bas") + same_file("link.bas"),
     1,
     {},
     Needs::symlinks},
    {"InputIsSymlinkToOutput",
     {"-i", "link.bas", "-o", "prog.bas"},
     echo_in("link.bas") + echo_out("prog.bas") + same_file("prog.bas"),
     1,
     {},
     Needs::symlinks},
    {"HardLink",
     {"-i", "hard.bas", "-o", "prog.bas"},
     echo_in("hard.bas") + echo_out("prog.bas") + same_file("prog.bas"),
     1,
     {}},
    // A device is no file to protect: reading and writing /dev/null converts nothing.
    {"NullDeviceBothWays",
     {"-i", kNullDevice, "-o", kNullDevice},
     echo_in(kNullDevice) + echo_out(kNullDevice) + kSuccess,
     0,
     {}},
    // Writing fails.
    {"OutputDeviceFull",
     {"-i", "prog.bas", "-o", "/dev/full"},
     echo_in("prog.bas") + echo_out("/dev/full") + "Could not write file: /dev/full, error: 28\r\n",
     1,
     {},
     Needs::posix_files},
};

class CliTest : public testing::TestWithParam<CliCase> {};

TEST_P(CliTest, ConsoleStatusAndFiles) {
  const CliCase& c = GetParam();
  Sandbox sandbox;
  const bool symlinks_made = populate(sandbox);
  if (auto why = missing(c.needs, symlinks_made)) GTEST_SKIP() << *why;
  RunResult r = sandbox.run(c.args);
  EXPECT_EQ(r.console, kBanner + c.console);
  EXPECT_EQ(r.status, c.status);
  expect_well_formed_errors(r.errors);
  Files files = {{"prog.bas", kSource}, {"old.bas", kOld}, {"out.bas", std::nullopt}};
  for (const auto& [name, bytes] : c.files)
    files[name] = bytes;
  for (const auto& [name, bytes] : files)
    EXPECT_EQ(sandbox.read(name), bytes) << name;
}

INSTANTIATE_TEST_SUITE_P(Vorpex, CliTest, testing::ValuesIn(kCliCases),
                         [](const testing::TestParamInfo<CliCase>& info) {
                           return info.param.name;
                         });

TEST(CliPathTest, AbsolutePathsAreEchoedAsGiven) {
  Sandbox sandbox;
  sandbox.write("prog.bas", kSource);
  const std::string in = (sandbox.dir() / "prog.bas").string();
  const std::string out = (sandbox.dir() / "out.bas").string();
  RunResult r = sandbox.run({"-i", in, "-o", out});
  EXPECT_EQ(r.console, kBanner + echo_in(in) + echo_out(out) + kSuccess);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, kConverted);
}

TEST(CliPathTest, LongRelativePathsAreKeptWhole) {
  Sandbox sandbox;
  const std::string dirs = repeat(repeat("d", 49) + "/", 6);  // 300 bytes
  const std::string in = dirs + "prog.bas";
  const std::string out = dirs + "out.bas";
  sandbox.write(in, kSource);
  RunResult r = sandbox.run({"-i", in, "-o", out}, out);
  EXPECT_EQ(r.console, kBanner + echo_in(in) + echo_out(out) + kSuccess);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, kConverted);
}

// A file that cannot be read (POSIX file modes; Windows has no such mode) or written (a mode, or
// Windows's read-only attribute).
TEST(CliPathTest, RefusedAccessIsErrorFive) {
  if (auto why = missing(Needs::read_only_files)) GTEST_SKIP() << *why;
  Sandbox sandbox;
  sandbox.write("prog.bas", kSource);
  sandbox.write("secret.bas", kSource);
  sandbox.write("locked.bas", kOld);
  fs::permissions(sandbox.dir() / "secret.bas", fs::perms::none);
  fs::permissions(sandbox.dir() / "locked.bas", fs::perms::owner_read);

  RunResult r;
#ifndef _WIN32
  r = sandbox.run({"-i", "secret.bas", "-o", "out.bas"});
  EXPECT_EQ(r.console,
            kBanner + echo_in("secret.bas") + echo_out("out.bas") + cannot_open("secret.bas", 5));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, std::nullopt);
#endif

  r = sandbox.run({"-i", "prog.bas", "-o", "locked.bas"}, "locked.bas");
  EXPECT_EQ(r.console,
            kBanner + echo_in("prog.bas") + echo_out("locked.bas") + cannot_open("locked.bas", 5));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, kOld);
}

}  // namespace
}  // namespace vorpex_e2e

// Hostile files and command lines through the real binary: files that cannot be opened or written,
// an output that names the input, huge lines and tokens, odd bytes, and runs killed midway. Each
// run must end with its documented message and status, change no file but its output, and keep
// its memory bounded by the longest line.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"

namespace vorpex_e2e {
namespace {

namespace fs = std::filesystem;

// Sanitizer runtimes map shadow memory and keep freed blocks in quarantine, so the memory limits
// are checked only in plain builds.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMeasuresMemory = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kMeasuresMemory = false;
#else
constexpr bool kMeasuresMemory = true;
#endif
#else
constexpr bool kMeasuresMemory = true;
#endif

constexpr long kMiB = 1024;  // in KiB, the unit of ru_maxrss

std::string upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::string echo_in(const std::string& path) {
  return "input file: " + path + "\r\n";
}
std::string echo_out(const std::string& path) {
  return "output file: " + path + "\r\n";
}
std::string echo_both(const std::string& in, const std::string& out) {
  return echo_in(in) + echo_out(out);
}
std::string cannot_open(const std::string& path, int error) {
  return "Could not open file: " + path + ", error: " + std::to_string(error);
}
std::string same_file(const std::string& path) {
  return "Input and output are the same file: " + path + "\r\n";
}

// FNV-1a over a file's bytes, read in blocks; nullopt when it cannot be read.
std::optional<std::uint64_t> file_hash(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::uint64_t hash = 0xcbf29ce484222325u;
  std::vector<char> block(64 * 1024);
  while (file) {
    file.read(block.data(), static_cast<std::streamsize>(block.size()));
    for (std::streamsize i = 0; i < file.gcount(); ++i) {
      hash =
          (hash ^ static_cast<unsigned char>(block[static_cast<std::size_t>(i)])) * 0x100000001b3u;
    }
  }
  return hash;
}

// Everything about a directory entry that a run could change: kind, mode, inode, link count,
// size, modification time, and the bytes of a file (up to 1 MiB; a larger one is told by its size
// and time) or the target of a symbolic link. A directory's modification time changes when an
// entry is created or removed in it, even a temporary one.
#ifdef _WIN32
std::string describe(const fs::path& path) {
  std::error_code error;
  const fs::file_status status = fs::symlink_status(path, error);
  if (error || !fs::exists(status)) return "missing";
  std::ostringstream out;
  out << "type " << static_cast<int>(status.type()) << ", mode " << std::oct
      << static_cast<int>(status.permissions()) << std::dec << ", links "
      << fs::hard_link_count(path, error) << ", mtime "
      << fs::last_write_time(path, error).time_since_epoch().count();
  if (fs::is_regular_file(status)) {
    const std::uintmax_t size = fs::file_size(path, error);
    out << ", size " << size;
    if (size <= 1024 * 1024) out << ", hash " << file_hash(path).value_or(0);
  }
  return out.str();
}
#else
std::string describe(const fs::path& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return "missing";
  std::ostringstream out;
  out << "mode " << std::oct << st.st_mode << std::dec << ", inode " << st.st_ino << ", links "
      << st.st_nlink << ", size " << st.st_size << ", mtime " << st.st_mtim.tv_sec << "."
      << st.st_mtim.tv_nsec;
  if (S_ISLNK(st.st_mode)) out << ", target " << fs::read_symlink(path).string();
  if (S_ISREG(st.st_mode) && st.st_size <= 1024 * 1024) {
    out << ", hash " << file_hash(path).value_or(0);
  }
  return out.str();
}
#endif

// Every entry under the sandbox, by relative path ("." is the sandbox itself); symbolic links are
// described, not followed (nor resolved in the names).
using Snapshot = std::map<std::string, std::string>;

Snapshot snapshot(const Sandbox& sandbox) {
  Snapshot entries{{".", describe(sandbox.dir())}};
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(sandbox.dir())) {
    entries[entry.path().lexically_relative(sandbox.dir()).string()] = describe(entry.path());
  }
  return entries;
}

// Every entry but those in `changes` is exactly as it was.
void expect_unchanged_except(const Snapshot& before, const Snapshot& after,
                             const std::set<std::string>& changes) {
  std::set<std::string> names;
  for (const auto& [name, state] : before)
    names.insert(name);
  for (const auto& [name, state] : after)
    names.insert(name);
  for (const std::string& name : names) {
    if (changes.contains(name)) continue;
    const auto was = before.find(name);
    const auto is = after.find(name);
    EXPECT_EQ(was == before.end() ? "missing" : was->second,
              is == after.end() ? "missing" : is->second)
        << "entry " << name << " changed";
  }
}

// ---- Files and command lines that must fail, or succeed, without touching anything else.

const std::string kSource = "print x\n";
const std::string kConverted = "PRINT X\r\n";
const std::string kLongComponent = repeat("c", 300);  // longer than any file name may be

// Returns whether the symbolic links were made.
bool populate(const Sandbox& sandbox) {
  const fs::path& dir = sandbox.dir();
  sandbox.write("prog.bas", kSource);
  sandbox.write("old.bas", "old\n");
  sandbox.write("bad.bas", "print x\n:\n");
  sandbox.write("dir/inner.bas", kSource);
  sandbox.write("readonly.bas", "old\n");
  sandbox.write("group.bas", "old\n");
  fs::create_directory(dir / "readonly_dir");
  fs::create_hard_link(dir / "prog.bas", dir / "hard.bas");
  sandbox.write("shared.bas", "old\n");
  fs::create_hard_link(dir / "shared.bas", dir / "shared_link.bas");
  fs::permissions(dir / "readonly.bas", fs::perms::owner_read | fs::perms::group_read);
  fs::permissions(dir / "group.bas",
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::permissions(dir / "readonly_dir", fs::perms::owner_read | fs::perms::owner_exec);
  return sandbox.symlink("prog.bas", "link.bas") &&
         sandbox.symlink("link.bas", "link_to_link.bas") &&
         sandbox.symlink("old.bas", "link_to_old.bas") && sandbox.symlink("dir", "link_to_dir") &&
         sandbox.symlink("nodir/x.bas", "dangling.bas") &&
         sandbox.symlink("new.bas", "to_new.bas") &&
         sandbox.symlink("to_new.bas", "to_to_new.bas") &&
         sandbox.symlink("new.bas", "dir/to_new.bas");
}

struct HostileCase {
  std::string name;
  std::vector<std::string> args;
  std::string console;  // everything after the banner
  int status;
  std::set<std::string> changes;  // the entries the run may change: its output, and "." or the
                                  // directory that gets a new entry
  std::string written;            // the output file to check, if any
  std::string written_bytes;
  Needs needs = Needs::nothing;
  fs::perms written_mode = fs::perms::unknown;  // the output file's mode to check, if any
};

void PrintTo(const HostileCase& c, std::ostream* os) {
  *os << c.name;
}

HostileCase refused(std::string name, std::string in, std::string out, std::string console,
                    Needs needs = Needs::nothing) {
  return {
      std::move(name), {"-i", in, "-o", out}, echo_both(in, out) + console, 1, {}, "", "", needs};
}

const std::vector<HostileCase> kHostileCases = {
    // The output cannot be written or opened: nothing at all changes.
    refused("OutputDeviceFull", "prog.bas", "/dev/full",
            "Could not write file: /dev/full, error: 28\r\n", Needs::posix_files),
    refused("OutputInMissingDirectory", "prog.bas", "nodir/out.bas",
            cannot_open("nodir/out.bas", 2)),
    refused("OutputThroughRegularFile", "prog.bas", "old.bas/out.bas",
            cannot_open("old.bas/out.bas", 2)),
    refused("OutputThroughDanglingLink", "prog.bas", "dangling.bas", cannot_open("dangling.bas", 2),
            Needs::symlinks),
    refused("OutputNameTooLong", "prog.bas", kLongComponent, cannot_open(kLongComponent, 2)),
    refused("OutputEmptyName", "prog.bas", "", cannot_open("", 2)),
    refused("OutputIsDirectory", "prog.bas", "dir", cannot_open("dir", 5)),
    refused("OutputIsLinkToDirectory", "prog.bas", "link_to_dir", cannot_open("link_to_dir", 5),
            Needs::symlinks),
    refused("OutputIsCurrentDirectory", "prog.bas", ".", cannot_open(".", 5)),
    // The input cannot be opened: the output is not even created.
    refused("InputThroughRegularFile", "prog.bas/x.bas", "out.bas",
            cannot_open("prog.bas/x.bas", 2)),
    refused("InputThroughDanglingLink", "dangling.bas", "out.bas", cannot_open("dangling.bas", 2),
            Needs::symlinks),
    refused("InputIsDirectory", "dir", "out.bas", cannot_open("dir", 5)),
    refused("InputIsLinkToDirectory", "link_to_dir", "out.bas", cannot_open("link_to_dir", 5),
            Needs::symlinks),
    refused("InputIsDirectoryOutputExists", "dir", "old.bas", cannot_open("dir", 5)),
    // The output names the input: neither is touched, not even its modification time.
    refused("SameFile", "prog.bas", "prog.bas", same_file("prog.bas")),
    refused("SameFileDotPath", "prog.bas", "./prog.bas", same_file("./prog.bas")),
    refused("SameFileThroughLinkedDirectory", "prog.bas", "link_to_dir/../prog.bas",
            same_file("link_to_dir/../prog.bas"), Needs::symlinks),
    refused("SameFileThroughProc", "prog.bas", "/proc/self/cwd/prog.bas",
            same_file("/proc/self/cwd/prog.bas"), Needs::posix_files),
    refused("OutputIsLinkToInput", "prog.bas", "link.bas", same_file("link.bas"), Needs::symlinks),
    refused("OutputIsLinkToLinkToInput", "prog.bas", "link_to_link.bas",
            same_file("link_to_link.bas"), Needs::symlinks),
    refused("InputIsLinkToOutput", "link_to_link.bas", "prog.bas", same_file("prog.bas"),
            Needs::symlinks),
    refused("OutputIsHardLinkOfInput", "prog.bas", "hard.bas", same_file("hard.bas")),
    refused("LinkAndHardLink", "link.bas", "hard.bas", same_file("hard.bas"), Needs::symlinks),
    refused("SameFileInSubdirectory", "dir/inner.bas", "link_to_dir/inner.bas",
            same_file("link_to_dir/inner.bas"), Needs::symlinks),
    // A link to a missing file: a run that gives up removes the file that it made where the link
    // points, and leaves the link as it was.
    {"GivenUpOutputThroughLinksToMissingFile",
     {"-i", "prog.bas", "-o", "to_to_new.bas", "--map", "nodir/x"},
     echo_both("prog.bas", "to_to_new.bas") + "map file: nodir/x\r\n" + cannot_open("nodir/x", 2),
     1,
     {"."},
     "",
     "",
     Needs::symlinks},
    {"GivenUpOutputThroughLinkInFolder",
     {"-i", "prog.bas", "-o", "link_to_dir/to_new.bas", "--map", "nodir/x"},
     echo_both("prog.bas", "link_to_dir/to_new.bas") + "map file: nodir/x\r\n" +
         cannot_open("nodir/x", 2),
     1,
     {"dir"},
     "",
     "",
     Needs::symlinks},
    // Access refused by file modes.
    {"OutputReadOnly",
     {"-i", "prog.bas", "-o", "readonly.bas"},
     echo_both("prog.bas", "readonly.bas") + cannot_open("readonly.bas", 5),
     1,
     {},
     "",
     "",
     Needs::read_only_files},
    {"OutputInReadOnlyDirectory",
     {"-i", "prog.bas", "-o", "readonly_dir/out.bas"},
     echo_both("prog.bas", "readonly_dir/out.bas") + cannot_open("readonly_dir/out.bas", 5),
     1,
     {},
     "",
     "",
     Needs::read_only_dirs},
    // Runs that write: only the output changes, and the directory it is created in.
    {"ConvertCreatesOnlyTheOutput",
     {"-i", "prog.bas", "-o", "out.bas"},
     echo_both("prog.bas", "out.bas") + kSuccess,
     0,
     {".", "out.bas"},
     "out.bas",
     kConverted},
    {"ConvertThroughInputLink",
     {"-i", "link_to_link.bas", "-o", "out.bas"},
     echo_both("link_to_link.bas", "out.bas") + kSuccess,
     0,
     {".", "out.bas"},
     "out.bas",
     kConverted,
     Needs::symlinks},
    {"OverwriteThroughLink",
     {"-i", "prog.bas", "-o", "link_to_old.bas"},
     echo_both("prog.bas", "link_to_old.bas") + kSuccess,
     0,
     {"old.bas"},
     "old.bas",
     kConverted,
     Needs::symlinks},
    {"OutputThroughLinksToMissingFile",
     {"-i", "prog.bas", "-o", "to_to_new.bas"},
     echo_both("prog.bas", "to_to_new.bas") + kSuccess,
     0,
     {".", "new.bas"},
     "new.bas",
     kConverted,
     Needs::symlinks},
    {"OutputInSubdirectory",
     {"-i", "prog.bas", "-o", "link_to_dir/new.bas"},
     echo_both("prog.bas", "link_to_dir/new.bas") + kSuccess,
     0,
     {"dir", "dir/new.bas"},
     "dir/new.bas",
     kConverted,
     Needs::symlinks},
    {"StoppedRunKeepsItsOutputOnly",
     {"-i", "bad.bas", "-o", "old.bas"},
     echo_both("bad.bas", "old.bas"),
     1,
     {".", "old.bas"},
     "old.bas",
     kConverted + unknown_error(2)},
    // A previous output keeps its mode; the run writes a new file in its place.
    {"ConvertKeepsTheOutputsMode",
     {"-i", "prog.bas", "-o", "group.bas"},
     echo_both("prog.bas", "group.bas") + kSuccess,
     0,
     {".", "group.bas"},
     "group.bas",
     kConverted,
     Needs::nothing,
     fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read},
    // A file with another name is written in place, so that both names keep the same file.
    {"OverwriteFileWithAnotherHardLink",
     {"-i", "prog.bas", "-o", "shared.bas"},
     echo_both("prog.bas", "shared.bas") + kSuccess,
     0,
     {"shared.bas", "shared_link.bas"},
     "shared_link.bas",
     kConverted},
    // Reading fails at once (this file has nothing mapped at offset 0): the output that the run
    // made goes again, a previous output and map keep their bytes and modes, and no temporary file
    // is left beside them.
    {"InputReadFails",
     {"-i", "/proc/self/mem", "-o", "out.bas"},
     echo_both("/proc/self/mem", "out.bas") + "Could not read file: /proc/self/mem, error: 5\r\n",
     1,
     {"."},
     "",
     "",
     Needs::posix_files},
    {"InputReadFailsKeepsThePreviousOutput",
     {"-i", "/proc/self/mem", "-o", "group.bas"},
     echo_both("/proc/self/mem", "group.bas") + "Could not read file: /proc/self/mem, error: 5\r\n",
     1,
     {"."},
     "",
     "",
     Needs::posix_files},
    {"InputReadFailsKeepsThePreviousOutputAndMap",
     {"-i", "/proc/self/mem", "-o", "old.bas", "--map", "group.bas"},
     echo_both("/proc/self/mem", "old.bas") + "map file: group.bas\r\n" +
         "Could not read file: /proc/self/mem, error: 5\r\n",
     1,
     {"."},
     "",
     "",
     Needs::posix_files},
    {"InputReadFailsRemovesTheMapItMade",
     {"-i", "/proc/self/mem", "-o", "old.bas", "--map", "new.map"},
     echo_both("/proc/self/mem", "old.bas") + "map file: new.map\r\n" +
         "Could not read file: /proc/self/mem, error: 5\r\n",
     1,
     {"."},
     "",
     "",
     Needs::posix_files},
    {"DeviceOutput",
     {"-i", "prog.bas", "-o", kNullDevice},
     echo_both("prog.bas", kNullDevice) + kSuccess,
     0,
     {},
     "",
     ""},
};

class HostileTest : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileTest, MessageStatusAndNothingElseChanged) {
  const HostileCase& c = GetParam();
  Sandbox sandbox;
  const bool symlinks_made = populate(sandbox);
  if (auto why = missing(c.needs, symlinks_made)) GTEST_SKIP() << *why;
  const Snapshot before = snapshot(sandbox);
  const RunResult r = sandbox.run(c.args);
  EXPECT_EQ(r.console, kBanner + c.console);
  EXPECT_EQ(r.status, c.status);
  expect_well_formed_errors(r.errors);
  expect_unchanged_except(before, snapshot(sandbox), c.changes);
  if (!c.written.empty()) {
    EXPECT_EQ(sandbox.read(c.written), c.written_bytes);
#ifndef _WIN32
    if (c.written_mode != fs::perms::unknown) {
      EXPECT_EQ(fs::status(sandbox.path(c.written)).permissions(), c.written_mode);
    }
#endif
  }
}

INSTANTIATE_TEST_SUITE_P(Vorpex, HostileTest, testing::ValuesIn(kHostileCases),
                         [](const testing::TestParamInfo<HostileCase>& info) {
                           return info.param.name;
                         });

#ifdef _WIN32
// Names that Windows would quietly turn into another file or a device, and other spellings of the
// input: refused, and nothing changes.
const std::vector<HostileCase> kWindowsCases = {
    refused("ReservedDeviceName", "prog.bas", "con", cannot_open("con", 2)),
    refused("ReservedNameWithExtension", "prog.bas", "nul.bas", cannot_open("nul.bas", 2)),
    refused("ReservedNameInFolder", "prog.bas", "dir/Com1.txt", cannot_open("dir/Com1.txt", 2)),
    refused("ReservedNameAsInput", "aux", "out.bas", cannot_open("aux", 2)),
    // The base name is a device once its trailing blanks are trimmed, in either number form.
    refused("ReservedNameBlankBeforeExtension", "prog.bas", "nul .bas", cannot_open("nul .bas", 2)),
    refused("ReservedNameBlankAfterParent", "prog.bas", "x/../nul .bas",
            cannot_open("x/../nul .bas", 2)),
    refused("ReservedNameBlankAsInput", "Nul .txt", "out.bas", cannot_open("Nul .txt", 2)),
    refused("ConsoleNameBlankBeforeExtension", "prog.bas", "con .txt", cannot_open("con .txt", 2)),
    refused("SuperscriptPortNumber", "prog.bas", "COM\u00b9", cannot_open("COM\u00b9", 2)),
    refused("SuperscriptPrinterNumber", "prog.bas", "lpt\u00b3.txt",
            cannot_open("lpt\u00b3.txt", 2)),
    {"ReservedMapName",
     {"-i", "prog.bas", "-o", "old.bas", "--map", "nul .map"},
     echo_both("prog.bas", "old.bas") + "map file: nul .map\r\n" + cannot_open("nul .map", 2),
     1,
     {},
     "",
     ""},
    {"NameThatOnlyBeginsWithADevice",
     {"-i", "prog.bas", "-o", "con x.bas"},
     echo_both("prog.bas", "con x.bas") + kSuccess,
     0,
     {".", "con x.bas"},
     "con x.bas",
     kConverted},
    // The device namespaces are no place for an output or a map.
    refused("DeviceNamespace", "prog.bas", "\\\\.\\NUL", cannot_open("\\\\.\\NUL", 2)),
    refused("DeviceNamespaceForwardSlashes", "prog.bas", "//./GLOBALROOT/Device/Null",
            cannot_open("//./GLOBALROOT/Device/Null", 2)),
    refused("VerbatimDevice", "prog.bas", "\\\\?\\NUL", cannot_open("\\\\?\\NUL", 2)),
    refused("GlobalRoot", "prog.bas", "\\\\?\\GLOBALROOT\\Device\\Null",
            cannot_open("\\\\?\\GLOBALROOT\\Device\\Null", 2)),
    refused("GlobalRootForwardSlashes", "prog.bas", "//?/globalroot/Device/Null",
            cannot_open("//?/globalroot/Device/Null", 2)),
    refused("NtNamespace", "prog.bas", "\\??\\GLOBALROOT\\Device\\Null",
            cannot_open("\\??\\GLOBALROOT\\Device\\Null", 2)),
    {"DeviceNamespaceMap",
     {"-i", "prog.bas", "-o", "old.bas", "--map", "\\\\.\\NUL"},
     echo_both("prog.bas", "old.bas") + "map file: \\\\.\\NUL\r\n" + cannot_open("\\\\.\\NUL", 2),
     1,
     {},
     "",
     ""},
    refused("TrailingDot", "prog.bas", "prog.bas.", cannot_open("prog.bas.", 2)),
    refused("TrailingBlank", "prog.bas", "prog.bas ", cannot_open("prog.bas ", 2)),
    refused("TrailingDotInFolder", "dir./inner.bas", "out.bas", cannot_open("dir./inner.bas", 2)),
    refused("AlternateDataStream", "prog.bas", "prog.bas:x", cannot_open("prog.bas:x", 2)),
    refused("SameFileOtherCase", "prog.bas", "PROG.BAS", same_file("PROG.BAS")),
    refused("SameFileBackslashes", "prog.bas", "dir\\..\\prog.bas", same_file("dir\\..\\prog.bas")),
    refused("HardLinkOtherCase", "Hard.Bas", "prog.bas", same_file("prog.bas")),
    refused("ReadOnlyOutputOtherCase", "prog.bas", "READONLY.bas", cannot_open("READONLY.bas", 5),
            Needs::read_only_files),
};

INSTANTIATE_TEST_SUITE_P(Windows, HostileTest, testing::ValuesIn(kWindowsCases),
                         [](const testing::TestParamInfo<HostileCase>& info) {
                           return info.param.name;
                         });

// A file that another program holds open without sharing cannot be opened, as input or output.
TEST(WindowsFileTest, FileHeldByAnotherProgramIsErrorFive) {
  Sandbox sandbox;
  sandbox.write("prog.bas", kSource);
  sandbox.write("held.bas", "old\n");
  const HANDLE held = ::CreateFileW(sandbox.path("held.bas").c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const RunResult as_input = sandbox.run({"-i", "held.bas", "-o", "out.bas"});
  const RunResult as_output = sandbox.run({"-i", "prog.bas", "-o", "held.bas"});
  ::CloseHandle(held);
  EXPECT_EQ(as_input.console,
            kBanner + echo_both("held.bas", "out.bas") + cannot_open("held.bas", 5));
  EXPECT_EQ(as_input.status, 1);
  EXPECT_EQ(as_input.output, std::nullopt);
  EXPECT_EQ(as_output.console,
            kBanner + echo_both("prog.bas", "held.bas") + cannot_open("held.bas", 5));
  EXPECT_EQ(as_output.status, 1);
  EXPECT_EQ(sandbox.read("held.bas"), "old\n");
}

// The input named by its absolute path, with or without the \\?\ prefix, is still the input.
TEST(WindowsFileTest, SameFileByAbsolutePath) {
  Sandbox sandbox;
  sandbox.write("prog.bas", kSource);
  const std::string absolute = sandbox.path("prog.bas").string();
  for (const std::string& out : {absolute, "\\\\?\\" + absolute}) {
    const RunResult r = sandbox.run({"-i", "prog.bas", "-o", out});
    EXPECT_EQ(r.console, kBanner + echo_both("prog.bas", out) + same_file(out));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(sandbox.read("prog.bas"), kSource);
  }
}
#endif

// ---- Huge lines and tokens and odd bytes: the exact output, with memory bounded by the longest
// line.

// The test process's own resident anonymous memory in KiB. A forked child starts out with it
// counted in its peak, so it must stay well below the limits measured.
long own_anonymous_kib() {
#ifndef __linux__
  return 0;  // elsewhere a started child does not count the test's pages
#endif
  std::ifstream status("/proc/self/status");
  std::string key;
  long value = 0;
  while (status >> key) {
    if (key == "RssAnon:" && status >> value) return value;
    status.ignore(1 << 20, '\n');
  }
  return 0;
}

struct LargeCase {
  std::string name;
  std::function<std::string()> input;   // generated when the case runs, so no test holds them all
  std::function<std::string()> output;  // the output file's bytes
  std::string console;                  // after the file names
  int status;
  long max_rss_kib;
};

void PrintTo(const LargeCase& c, std::ostream* os) {
  *os << c.name;
}

// Where two long byte strings first differ, instead of printing them whole.
testing::AssertionResult same_bytes(const std::optional<std::string>& actual,
                                    const std::string& expected) {
  if (!actual) return testing::AssertionFailure() << "no output file";
  if (*actual == expected) return testing::AssertionSuccess();
  std::size_t i = 0;
  while (i < actual->size() && i < expected.size() && (*actual)[i] == expected[i])
    ++i;
  return testing::AssertionFailure()
         << "output of " << actual->size() << " bytes, expected " << expected.size()
         << "; first difference at byte " << i << ": got \"" << actual->substr(i, 40)
         << "\", expected \"" << expected.substr(i, 40) << "\"";
}

std::string high_bytes() {
  std::string bytes;
  for (int c = 0x80; c <= 0xff; ++c)
    bytes.push_back(static_cast<char>(c));
  return bytes;
}

constexpr int kTenMiBPieces = 10 * 1024 * 1024 / 16;
const std::string kDefineName = repeat("Nm_", 3414);     // 10 KiB and more
const std::string kDefineValue = repeat("vaL9", 2560);   // 10 KiB
const std::string kDefineNumber = repeat("1234", 2560);  // 10 KiB of digits

// 1001 directives with long names and values; the last finds the table full.
// (Built by appending: GCC 12 gives a false -Wrestrict for "n" + std::string without link-time
// optimisation.)
std::string long_word(char first, int i, const char* fill) {
  std::string word(1, first);
  word += std::to_string(i);
  word += repeat(fill, 500);
  return word;
}
std::string long_name(int i) {
  return long_word('n', i, "_");
}
std::string long_value(int i) {
  return long_word('v', i, "w");
}
std::string thousand_and_one_defines() {
  std::string text;
  for (int i = 0; i <= 1000; ++i)
    text += "DEFINE " + long_name(i) + " = " + long_value(i) + "\n";
  return text + "print " + long_name(0) + " " + long_name(999) + " " + long_name(1000) + "\n";
}

const std::vector<LargeCase> kLargeCases = {
    {"TenMiBLine", [] { return repeat("a = \"b c\" + 12 ; ", kTenMiBPieces) + "\n"; },
     [] { return repeat("A=\"b c\"+12;", kTenMiBPieces) + "\r\n"; }, kSuccess, 0,
     10 * kMiB * 5 / 2 + 2 * kMiB},
    {"OneMiBWord", [] { return "print " + repeat("xy9_", 256 * 1024) + " x\n"; },
     [] { return "PRINT " + repeat("XY9_", 256 * 1024) + " X\r\n"; }, kSuccess, 0, 8 * kMiB},
    {"HundredKiBString",
     [] { return "print \"" + repeat("a 'b' REM : ", 100 * 1024 / 12) + "\" ; x\n"; },
     [] { return "PRINT \"" + repeat("a 'b' REM : ", 100 * 1024 / 12) + "\";X\r\n"; }, kSuccess, 0,
     8 * kMiB},
    {"HundredKiBUnclosedString",
     [] { return "print \"" + repeat("a 'b' REM : ", 100 * 1024 / 12) + "\nx\n"; },
     [] { return "PRINT \"" + repeat("a 'b' REM : ", 100 * 1024 / 12) + "\"\r\nX\r\n"; },
     "\r\r\nUNBALANCED QUOTE!\r\r\n" + kSuccess, 0, 8 * kMiB},
    {"TenKiBDefineNameAndValue",
     [] {
       return "DEFINE " + kDefineName + " = " + kDefineValue + "\nprint " + kDefineName + "\n";
     },
     [] { return "PRINT " + upper(kDefineValue) + "\r\n"; }, kSuccess, 0, 8 * kMiB},
    {"TenKiBDefineNumberJoinsLikeLabel",
     [] { return "define " + kDefineName + " = " + kDefineNumber + "\n" + kDefineName + "\nx\n"; },
     [] { return kDefineNumber + " X\r\n"; }, kSuccess, 0, 8 * kMiB},
    {"ThousandAndOneDefines", thousand_and_one_defines,
     [] {
       return "\r\nPREPROCESSOR ERROR: EXISTING SYMBOL OR TABLE IS FULL... LINE: 1001\r\n" +
              upper("PRINT " + long_value(0) + " " + long_value(999) + " " + long_name(1000)) +
              "\r\n";
     },
     kSuccess, 0, 8 * kMiB},
    {"NulBytes", [] { return std::string(1024 * 1024, '\0'); }, [] { return std::string(); },
     kSuccess, 0, 8 * kMiB},
    {"NulBytesOnManyLines", [] { return repeat(std::string(63, '\0') + "\n", 16 * 1024) + "x"; },
     [] { return std::string("X\r\n"); }, kSuccess, 0, 8 * kMiB},
    {"HighBytes", [] { return repeat(high_bytes(), 8 * 1024); }, [] { return unknown_error(1); },
     "", 1, 8 * kMiB},
    {"HighBytesInsideWords",
     [] { return repeat(std::string("a") + high_bytes() + "\n", 8 * 1024); },
     [] { return repeat(std::string("A") + high_bytes() + "\r\n", 8 * 1024); }, kSuccess, 0,
     8 * kMiB},
    // With CR-only line ends the whole file is one line, the CR bytes dropped.
    {"CrOnlyLineEnds", [] { return repeat("print x\r", 100 * 1000); },
     [] { return "PRINT" + repeat(" XPRINT", 100 * 1000 - 1) + " X\r\n"; }, kSuccess, 0, 8 * kMiB},
    // Memory does not grow with the number of lines.
    {"OneMiBOfOrdinaryLines", [] { return repeat("  PRINT \"Led: \"; I ' each led\n", 32 * 1024); },
     [] { return repeat("PRINT \"Led: \";I\r\n", 32 * 1024); }, kSuccess, 0, 4 * kMiB},
    {"ThirtyTwoMiBOfShortLines", [] { return repeat("  FOR I = 1 TO 5   ' each led\n", 1 << 20); },
     [] { return repeat("FOR I=1 TO 5\r\n", 1 << 20); }, kSuccess, 0, 8 * kMiB},
};

class LargeInputTest : public testing::TestWithParam<LargeCase> {};

TEST_P(LargeInputTest, ExactOutputInBoundedMemory) {
  const LargeCase& c = GetParam();
  Sandbox sandbox;
  sandbox.write("in.bas", c.input());
  if (kMeasuresMemory) {
#ifdef __GLIBC__
    ::malloc_trim(0);  // hand the input's memory back before the child copies this process
#endif
    ASSERT_LT(own_anonymous_kib(), c.max_rss_kib / 2) << "the test process holds too much memory";
  }
  const RunResult r = sandbox.run({"-i", "in.bas", "-o", "out.bas"});
  EXPECT_EQ(r.console, kConvertHead + c.console);
  EXPECT_EQ(r.status, c.status);
  expect_well_formed_errors(r.errors);
  EXPECT_TRUE(same_bytes(r.output, c.output()));
  // Under wine a process's working set counts much of wine itself, and varies from run to run by
  // more than these bounds: the memory is checked on Linux, macOS and Windows proper.
  if (kMeasuresMemory && !under_wine()) {
#ifdef _WIN32
    // A Windows process's peak working set counts the system's own libraries: what the input adds
    // is measured over the peak of converting one short line.
    static const long baseline = convert("x\n").max_rss_kib;
#else
    constexpr long baseline = 0;
#endif
    EXPECT_LT(r.max_rss_kib - baseline, c.max_rss_kib) << "peak resident memory in KiB";
  }
}

INSTANTIATE_TEST_SUITE_P(Vorpex, LargeInputTest, testing::ValuesIn(kLargeCases),
                         [](const testing::TestParamInfo<LargeCase>& info) {
                           return info.param.name;
                         });

// ---- Runs started by hand: killed midway, or with standard streams closed.

TEST(InterruptedRunTest, KilledRunLeavesTheInputIntact) {
  Sandbox sandbox;
  sandbox.write("in.bas", repeat("10 PRINT \"Led: \"; I ' each led\n  DELAY pause\n", 1 << 19));
  sandbox.write("old.bas", "old\n");
  const std::optional<std::uint64_t> input_hash = file_hash(sandbox.dir() / "in.bas");
  ASSERT_TRUE(input_hash);
  const std::optional<std::string> converted =
      sandbox.run({"-i", "in.bas", "-o", "all.bas"}, "all.bas").output;
  ASSERT_TRUE(converted);
  int killed = 0;
  for (int delay_us : {0, 500, 2000, 5000, 10000, 20000, 50000}) {
    SCOPED_TRACE(testing::Message() << "killed after " << delay_us << " us");
    for (const std::string output : {"out.bas", "old.bas"}) {
      const Snapshot before = snapshot(sandbox);
      Child child(sandbox, {"-i", "in.bas", "-o", output});
      std::this_thread::sleep_for(std::chrono::microseconds(delay_us));
      child.kill();
      if (child.wait() == kKilledStatus) ++killed;
      EXPECT_EQ(file_hash(sandbox.dir() / "in.bas"), input_hash);
      // A previous output is written through a temporary beside it, which a killed run leaves
      // behind: the output itself is the old file or the whole new one, never a part of it.
      for (const auto& [name, state] : snapshot(sandbox)) {
        if (name.starts_with("." + output + ".")) fs::remove(sandbox.path(name));
      }
      const Snapshot after = snapshot(sandbox);
      if (output == "old.bas") {
        const std::optional<std::string> now = sandbox.read(output);
        EXPECT_TRUE(now == "old\n" || now == converted) << "a part of the output took its place";
      }
      expect_unchanged_except(before, after, {".", output});
    }
  }
  EXPECT_GT(killed, 0) << "every run ended before it could be killed";
}

// Console messages never land in the output file, even when the output file gets the standard
// output's descriptor because standard input and output were closed (`vorpex ... <&- >&-`).
// More than 16 KiB of unbalanced-quote warnings make the console write mid-run.
TEST(ClosedStreamsTest, ConsoleNeverWritesIntoTheOutput) {
  Sandbox sandbox;
  sandbox.write("in.bas", repeat("print \"x\n", 2000));
  Child(sandbox, {"-i", "in.bas", "-o", "out.bas"}, true).wait();
  EXPECT_TRUE(same_bytes(sandbox.read("out.bas"), repeat("PRINT \"x\"\r\n", 2000)));
  EXPECT_EQ(sandbox.read("in.bas"), repeat("print \"x\n", 2000));
}

// A console that cannot be written makes the run fail, as it does for the usual tools; the output
// file is written whole all the same.
TEST(ClosedStreamsTest, ConsoleThatCannotBeWrittenIsAFailure) {
  const struct {
    std::vector<std::string> args;
    int status;
    std::string console;
  } cases[] = {
      {{"-i", "in.bas", "-o", "out.bas"}, 1, "/dev/full"},
      {{"-h", "a", "b", "c"}, 1, "/dev/full"},
      {{"-h"}, 2, "/dev/full"},
      // A reader that went away: a failure, not the end of the process before the output file.
      {{"-i", "in.bas", "-o", "out.bas"}, 1, kClosedPipe},
      {{"-q", "-i", "in.bas", "-o", "-"}, 1, kClosedPipe},
  };
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no /dev/full";
#endif
  for (const auto& [args, status, console] : cases) {
    Sandbox sandbox;
    sandbox.write("in.bas", repeat("print x\n", 1000));
    EXPECT_EQ(Child(sandbox, args, false, console).wait(), status) << args[0] << " " << console;
    if (status == 1 && args.back() == "out.bas") {
      EXPECT_TRUE(same_bytes(sandbox.read("out.bas"), repeat("PRINT X\r\n", 1000)));
    }
  }
}

// A process may be started with no arguments at all, not even its own name (argc 0): the usage
// line and status 2, as for any short command line.
TEST(ClosedStreamsTest, NoArgumentsAtAll) {
#ifdef _WIN32
  GTEST_SKIP() << "a Windows process always gets a command line";
#else
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    if (null < 0 || ::dup2(null, 1) < 0) ::_exit(126);
    char* const no_arguments[] = {nullptr};
    ::execv(VORPEX_BINARY, no_arguments);
    ::_exit(127);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
#endif
}

// The banner and the file names are on the console before the conversion starts, not only when
// it ends: the input is a FIFO that stays empty until the test has read them.
TEST(ConsoleTimingTest, FileNamesShowBeforeTheConversion) {
#ifdef _WIN32
  GTEST_SKIP() << "a FIFO cannot stand in the file system on Windows";
#else
  Sandbox sandbox;
  ASSERT_EQ(::mkfifo((sandbox.dir() / "in.bas").c_str(), 0600), 0);
  int console[2];
  ASSERT_EQ(::pipe(console), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::dup2(console[1], 1) < 0 || ::chdir(sandbox.dir().c_str()) != 0) ::_exit(126);
    ::close(console[0]);
    ::execl(VORPEX_BINARY, VORPEX_BINARY, "-i", "in.bas", "-o", "out.bas", nullptr);
    ::_exit(127);
  }
  ::close(console[1]);
  const int fifo = ::open((sandbox.dir() / "in.bas").c_str(), O_WRONLY);  // waits for vorpex
  ASSERT_GE(fifo, 0);

  std::string shown;
  while (shown.size() < kConvertHead.size()) {
    pollfd ready{console[0], POLLIN, 0};
    ASSERT_EQ(::poll(&ready, 1, 10000), 1) << "the console shows nothing before the input comes";
    char buffer[256];
    const ssize_t n = ::read(console[0], buffer, sizeof buffer);
    ASSERT_GT(n, 0);
    shown.append(buffer, static_cast<std::size_t>(n));
  }
  EXPECT_EQ(shown, kConvertHead);

  ASSERT_EQ(::write(fifo, "print x\n", 8), 8);
  ::close(fifo);
  char buffer[256];
  for (ssize_t n; (n = ::read(console[0], buffer, sizeof buffer)) > 0;)
    shown.append(buffer, static_cast<std::size_t>(n));
  ::close(console[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(shown, kConvertHead + kSuccess);
  EXPECT_EQ(sandbox.read("out.bas"), "PRINT X\r\n");
#endif
}

// The disk fills up midway: with a file-size limit of 64 KiB (and SIGXFSZ ignored, as the child
// inherits both), writing fails with EFBIG after the output's first 64 KiB. The run leaves no
// broken target: an output that it made goes again, and a previous output (and map) keeps its
// bytes and its mode, with no temporary file left beside it.
TEST(WriteFailureTest, OutputFailingMidwayIsReported) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no file-size limit to set";
#else
  constexpr std::size_t kLimit = 64 * 1024;
  const struct {
    std::vector<std::string> args;
    std::string failed;
  } cases[] = {
      {{"-i", "in.bas", "-o", "out.bas"}, "out.bas"},
      {{"-i", "in.bas", "-o", "old.bas"}, "old.bas"},
      {{"-i", "in.bas", "-o", "old.bas", "--map", "old.map"}, "old.bas"},
  };
  for (const auto& [args, failed] : cases) {
    SCOPED_TRACE(args[3]);
    Sandbox sandbox;
    sandbox.write("in.bas", repeat("print x\n", 100 * 1000));
    sandbox.write("old.bas", "old\n");
    sandbox.write("old.map", "old\n");
    fs::permissions(sandbox.path("old.bas"),
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const Snapshot before = snapshot(sandbox);

    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit limited = saved;
    limited.rlim_cur = kLimit;
    const auto saved_handler = ::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    const RunResult r = sandbox.run(args);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, saved_handler);

    std::string head = kBanner + echo_both("in.bas", args[3]);
    if (args.size() > 4) head += "map file: " + args[5] + "\r\n";
    EXPECT_EQ(r.console, head + "Could not write file: " + failed + ", error: 27\r\n");
    EXPECT_EQ(r.status, 1);
    expect_well_formed_errors(r.errors);
    expect_unchanged_except(before, snapshot(sandbox), {"."});
  }
#endif
}

}  // namespace
}  // namespace vorpex_e2e

// Runs the vorpex binary in a throw-away directory and captures everything it produces.
#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/types.h>
#endif

namespace vorpex_e2e {

inline const std::string kBanner = "vorpex 1.0.0 - BASIC source preprocessor\r\n";
inline const std::string kUsage = "vorpex -i InpFileName -o OutFileName\r\n";
inline const std::string kSuccess = "Convert success!\r\n";
// What the console shows before the conversion starts, for `-i in.bas -o out.bas`.
inline const std::string kConvertHead = kBanner + "input file: in.bas\r\noutput file: out.bas\r\n";
#ifdef _WIN32
inline const std::string kNullDevice = "NUL";
#else
inline const std::string kNullDevice = "/dev/null";
#endif
// The status of a run that Child::kill() ended: 128 + SIGKILL, as a shell shows it; on Windows
// the exit code the process is terminated with.
constexpr int kKilledStatus = 128 + 9;

// What a case needs beyond plain files, where some systems lack it.
enum class Needs {
  nothing,
  symlinks,         // symbolic links in the sandbox
  posix_files,      // /dev/full or /proc
  read_only_files,  // a file that its owner cannot write (a file mode, or the read-only attribute)
  read_only_dirs,   // a directory in which its owner cannot make files
};
// Why a case that needs `needs` cannot run here, or nothing when it can. `symlinks_made` tells
// whether the sandbox got its symbolic links.
std::optional<std::string> missing(Needs needs, bool symlinks_made = true);

// Whether the tests run under wine rather than on Windows proper.
bool under_wine();

struct RunResult {
  std::string console;                // standard output, byte for byte
  std::string errors;                 // standard error, byte for byte
  int status = -1;                    // exit status, or 128 + signal number when killed
  std::optional<std::string> output;  // bytes of the output file; nullopt when it does not exist
  // The child's peak resident memory in KiB (wait4's ru_maxrss; on Windows the peak working set).
  // A forked child starts with the test's own resident pages counted, so a test that measures
  // this keeps its own memory small.
  long max_rss_kib = 0;
};

// A fresh temporary directory, removed with everything in it on destruction.
class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const std::filesystem::path& dir() const { return dir_; }
  // A UTF-8 name, relative to the sandbox (or absolute), as a path of this system.
  std::filesystem::path path(const std::string& name) const;
  // Parent directories are created.
  void write(const std::string& name, const std::string& bytes) const;
  std::optional<std::string> read(const std::string& name) const;
  // Makes a symbolic link; false where this system does not let the tests make one (wine, and
  // Windows without the privilege).
  bool symlink(const std::string& target, const std::string& name) const;
  // Runs the binary with exactly these arguments, the sandbox as working directory, no shell.
  // `output` names the file whose bytes are returned in RunResult::output; standard input is
  // the file `standard_input` when one is named, else the null device.
  RunResult run(const std::vector<std::string>& args, const std::string& output = "out.bas",
                const std::string& standard_input = "") const;

 private:
  std::filesystem::path dir_;
};

// A standard output for Child: a pipe whose reading end is closed (POSIX only).
inline const std::string kClosedPipe = "|closed";

// vorpex started in a sandbox without waiting for it: standard input, output and error on the
// null device (standard output on the file `standard_output` when given, or kClosedPipe), or with
// `close_input_and_output` standard input and output closed, so that the files vorpex opens could
// take their numbers. The destructor kills and waits for a child still running.
class Child {
 public:
  Child(const Sandbox& sandbox, const std::vector<std::string>& args,
        bool close_input_and_output = false, const std::string& standard_output = "");
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  void kill();
  // Waits for the end; returns the exit status, or 128 + the signal that ended it.
  int wait();

 private:
#ifdef _WIN32
  void* process_ = nullptr;  // the process's HANDLE
#else
  pid_t pid_ = -1;
#endif
  int status_ = -1;
};

// Converts `input` (stored as in.bas) with `-i in.bas -o out.bas` in a fresh sandbox.
RunResult convert(const std::string& input);

// One conversion case: the input bytes and the output-file bytes they must give.
struct Conversion {
  std::string name;
  std::string input;
  std::string output;
  int quote_warnings;  // unclosed strings reported on the console
  bool stops;          // a character that begins no token ends the run with status 1
};
inline void PrintTo(const Conversion& c, std::ostream* os) {
  *os << c.name;
}

// Converts c.input and checks the output file, the console, the exit status and standard error.
void expect_conversion(const Conversion& c);
// Every line of standard error is a diagnostic that editors read (FILE:LINE:COLUMN: error: ...)
// or a line that names the program ("vorpex: ...").
void expect_well_formed_errors(const std::string& errors);

std::string repeat(const std::string& piece, int times);
// The message the output file ends with when a character begins no token.
std::string unknown_error(int line);

}  // namespace vorpex_e2e

// Runs the vorpex binary in a throw-away directory and captures everything it produces.
#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace vorpex_e2e {

inline const std::string kBanner = "vorpex 1.0.0 - BASIC source preprocessor\r\n";
inline const std::string kUsage = "vorpex -i InpFileName -o OutFileName\r\n";
inline const std::string kSuccess = "Convert success!\r\n";
// What the console shows before the conversion starts, for `-i in.bas -o out.bas`.
inline const std::string kConvertHead = kBanner + "input file: in.bas\r\noutput file: out.bas\r\n";

struct RunResult {
  std::string console;                // standard output, byte for byte
  std::string errors;                 // standard error, byte for byte
  int status = -1;                    // exit status, or 128 + signal number when killed
  std::optional<std::string> output;  // bytes of the output file; nullopt when it does not exist
  // The child's peak resident memory in KiB (wait4's ru_maxrss). A forked child starts with the
  // test's own resident pages counted, so a test that measures this keeps its own memory small.
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
  // Relative names are taken inside the sandbox; parent directories are created.
  void write(const std::filesystem::path& name, const std::string& bytes) const;
  std::optional<std::string> read(const std::filesystem::path& name) const;
  // Runs the binary with exactly these arguments, the sandbox as working directory, no shell.
  // `output` names the file whose bytes are returned in RunResult::output; standard input is
  // the file `standard_input` when one is named, else /dev/null.
  RunResult run(const std::vector<std::string>& args,
                const std::filesystem::path& output = "out.bas",
                const std::filesystem::path& standard_input = {}) const;

 private:
  std::filesystem::path dir_;
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

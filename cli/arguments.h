#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cli/diagnostics.h"
#include "engine/byte_sink.h"

namespace vorpex::cli {

struct Arguments {
  std::string input_path;                // the value after -i, kept whole; "-" is standard input
  std::string output_path;               // the value after -o, kept whole; "-" is standard output
  bool quiet = false;                    // -q, --quiet: nothing on standard output
  bool no_warnings = false;              // -w, --no-warnings: errors only on standard error
  bool strict = false;                   // --strict: any diagnostic makes the run fail
  bool keep_going = false;               // -k, --keep-going: every diagnostic of the whole source
  std::vector<std::string> definitions;  // the values of -D and --define, NAME=VALUE, in order
  std::optional<std::string> map_path;   // --map FILE
  // --renumber START[,STEP]: the output is the program renumbered; --renumber-source: the output
  // file gets the source itself renumbered, not converted. The last of the two wins.
  enum class Renumber { None, Output, Source };
  Renumber renumber = Renumber::None;
  std::uint64_t renumber_start = 10;
  std::uint64_t renumber_step = 10;
  std::optional<std::uint64_t> largest_line;  // --largest-line N: no new number above N
  bool leave_computed_jumps = false;          // --leave-computed-jumps: renumber past them
};

// Writes the usage line.
void print_usage(ByteSink& console);
// Writes the usage line and a line for each option.
void print_help(ByteSink& console);
// Writes the version and the licence.
void print_version(ByteSink& console);

// --help and --version answer whatever else the command line holds.
enum class Information { Help, Version };
// The first of --help and --version among the arguments (not as the value of another option).
std::optional<Information> information_asked(std::span<const char* const> args);

// Walks the arguments (the program name excluded) from first to last, filling `arguments` and
// echoing each file name as it is taken. A single-dash option is told by its second character
// alone (so "-input" acts as -i); a long option ("--strict") by its whole name, with its value
// after it or after '=' ("--map=FILE"). The value after -i, -o, -D, --define or --map is taken as
// it is, even when it begins with '-'; options may repeat and the last value wins (every -D
// counts). Returns the exit status when the command line ends the run (-h, an unknown parameter,
// a missing value), or nothing when the run goes on. A failure also gets one line on `errors`,
// when given.
std::optional<int> parse_arguments(std::span<const char* const> args, Arguments& arguments,
                                   ByteSink& console, ErrorLog* errors = nullptr);

}  // namespace vorpex::cli

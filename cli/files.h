#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cli/arguments.h"
#include "cli/diagnostics.h"
#include "platform/console.h"
#include "platform/file.h"

namespace vorpex::cli {

// The path that names standard input for -i and standard output for -o.
inline constexpr std::string_view kStandardStream = "-";

// Where the run writes a file that it must not leave broken: an existing regular file is written
// through a temporary beside it, which takes its place only when the run is complete; a file that
// the run made is removed again when the run fails. Links, devices and pipes are written as they
// are.
struct Target {
  std::string path;
  std::string temporary;  // the temporary written instead of `path`; empty when written in place
  std::string created;    // the file that the run made (written in place); empty when none
};

struct Files {
  platform::File input;
  std::int64_t input_size = -1;  // a regular file's size when it was opened; -1 for other inputs
  platform::File output;
  platform::File map;  // open only with --map
  Target output_target;
  Target map_target;
};

// Opens the input, then the output, then the map. Writes the failure message and returns the exit
// status when a file cannot be opened, or when the output is the input itself, or the map is
// either (which is then left untouched). "-" is standard input for -i and standard output for -o.
std::optional<int> open_files(const Arguments& arguments, Files& files, platform::Console& console,
                              ErrorLog& errors);

// "Could not open file: PATH, error: N" on the console, with no line end, and the system's own
// words on standard error.
void report_open_failure(platform::Console& console, ErrorLog& errors, const std::string& path,
                         int error);

// After the run, with the output and the map closed. A complete run (`complete`) puts its files
// in place: each temporary replaces its file. Returns 0, or the error number of a temporary that
// could not take its file's place, with that file's path in `failed` (the file is then as it was,
// and so is the map when the output failed). A failed run leaves every file as it was before the
// run: the temporaries and the files that the run made are removed.
int finish_files(Files& files, bool complete, std::string& failed);

enum class Io { Read, Write };
// "Could not read file: PATH, error: N" (or write) on the console, when there is one, and the
// system's own words on standard error.
void report_io_failure(platform::Console* console, ErrorLog& errors, Io io, const std::string& path,
                       int error);

}  // namespace vorpex::cli

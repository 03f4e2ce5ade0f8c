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

struct Files {
  platform::File input;
  std::int64_t input_size = -1;  // a regular file's size when it was opened; -1 for other inputs
  platform::File output;
  platform::File map;  // open only with --map
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

enum class Io { Read, Write };
// "Could not read file: PATH, error: N" (or write) on the console, when there is one, and the
// system's own words on standard error.
void report_io_failure(platform::Console* console, ErrorLog& errors, Io io, const std::string& path,
                       int error);

}  // namespace vorpex::cli

#pragma once

#include <optional>
#include <span>

#include "cli/arguments.h"
#include "cli/diagnostics.h"
#include "engine/byte_sink.h"
#include "platform/console.h"
#include "platform/file.h"

namespace vorpex::cli {

struct Files {
  platform::File input;
  platform::File output;
  platform::File map;  // open only with --map
};

// Opens the input, then the output, then the map. Writes the failure message and returns the exit
// status when a file cannot be opened, or when the output is the input itself, or the map is
// either (which is then left untouched). "-" is standard input for -i and standard output for -o.
std::optional<int> open_files(const Arguments& arguments, Files& files, platform::Console& console,
                              ErrorLog& errors);

// The whole run: banner, command line, files, conversion, closing, final message. `args` excludes
// the program name. The console's messages so far are shown before the conversion starts;
// diagnostics and one line for each failure go to `standard_error`. Returns the exit status.
int run(std::span<const char* const> args, platform::Console& console, ByteSink& standard_error);

}  // namespace vorpex::cli

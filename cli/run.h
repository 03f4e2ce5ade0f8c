#pragma once

#include <optional>
#include <span>

#include "cli/arguments.h"
#include "engine/byte_sink.h"
#include "platform/console.h"
#include "platform/file.h"

namespace vorpex::cli {

struct Files {
  platform::File input;
  platform::File output;
};

// Opens the input, then the output. Writes the failure message and returns the exit status when a
// file cannot be opened, or when the output is the input itself (which is then left untouched).
std::optional<int> open_files(const Arguments& arguments, Files& files, ByteSink& console);

// The whole run: banner, command line, files, conversion, closing, final message. `args` excludes
// the program name. The messages so far are on the console before the conversion starts. Returns
// the exit status.
int run(std::span<const char* const> args, platform::Console& console);

}  // namespace vorpex::cli

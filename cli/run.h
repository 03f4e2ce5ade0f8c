#pragma once

#include <optional>
#include <span>

#include "cli/arguments.h"
#include "cli/diagnostics.h"
#include "cli/files.h"
#include "engine/byte_sink.h"
#include "platform/console.h"

namespace vorpex::cli {

// The whole run: banner, command line, files, conversion, closing, final message. `args` excludes
// the program name. The console's messages so far are shown before the conversion starts;
// diagnostics and one line for each failure go to `standard_error`. Returns the exit status.
int run(std::span<const char* const> args, platform::Console& console, ByteSink& standard_error);

}  // namespace vorpex::cli

#pragma once

#include <optional>
#include <span>
#include <string>

#include "engine/byte_sink.h"

namespace vorpex::cli {

struct Arguments {
  std::string input_path;   // the value after -i, kept whole
  std::string output_path;  // the value after -o, kept whole
};

// Writes the usage line.
void print_usage(ByteSink& console);

// Walks the arguments (the program name excluded) from first to last, filling `arguments` and
// echoing each file name as it is taken. Only an argument's second character decides (so "-input"
// acts as -i); the value after -i or -o is taken as it is, even when it begins with '-'; options
// may repeat and the last value wins. Returns the exit status when the command line ends the run
// (-h, an unknown parameter, a missing file name), or nothing when the run goes on.
std::optional<int> parse_arguments(std::span<const char* const> args, Arguments& arguments,
                                   ByteSink& console);

}  // namespace vorpex::cli

#include "cli/arguments.h"

#include <string_view>

namespace vorpex::cli {

namespace {

void write_all(ByteSink& console, std::initializer_list<std::string_view> parts) {
  for (std::string_view part : parts)
    console.write(part);
}

}  // namespace

void print_usage(ByteSink& console) {
  console.write("vorpex -i InpFileName -o OutFileName\n");
}

std::optional<int> parse_arguments(std::span<const char* const> args, Arguments& arguments,
                                   ByteSink& console) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    const char option = arg.size() >= 2 && arg[0] == '-' ? arg[1] : '\0';
    if (option == 'h') {
      print_usage(console);
      return 0;
    }
    if (option != 'i' && option != 'o') {
      write_all(console, {"Unknown parameter: ", arg, "\n\n"});
      print_usage(console);
      return 1;
    }
    if (i + 1 == args.size()) {
      write_all(console, {"Missing file name for parameter: ", arg, "\n\n"});
      print_usage(console);
      return 1;
    }
    const std::string_view value = args[++i];
    if (option == 'i') {
      arguments.input_path = value;
      write_all(console, {"input file: ", value, "\n"});
    } else {
      arguments.output_path = value;
      write_all(console, {"output file: ", value, "\n"});
    }
  }
  return std::nullopt;
}

}  // namespace vorpex::cli

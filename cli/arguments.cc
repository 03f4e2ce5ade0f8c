#include "cli/arguments.h"

#include <string>
#include <string_view>

#include "session/renumber.h"

namespace vorpex::cli {

namespace {

void write_all(ByteSink& sink, std::initializer_list<std::string_view> parts) {
  for (std::string_view part : parts)
    sink.write(part);
}

// What an option does with the command line.
enum class Option {
  Unknown,
  Help,
  Input,
  Output,
  Quiet,
  NoWarnings,
  Strict,
  KeepGoing,
  Define,
  Map,
  LongHelp,
  Version,
  Renumber,
  RenumberSource,
  LargestLine,
  LeaveComputedJumps,
};

Option short_option(char letter) {
  switch (letter) {
    case 'h':
      return Option::Help;
    case 'i':
      return Option::Input;
    case 'o':
      return Option::Output;
    case 'q':
      return Option::Quiet;
    case 'w':
      return Option::NoWarnings;
    case 'k':
      return Option::KeepGoing;
    case 'D':
      return Option::Define;
    default:
      return Option::Unknown;
  }
}

Option long_option(std::string_view name) {
  if (name == "quiet") return Option::Quiet;
  if (name == "no-warnings") return Option::NoWarnings;
  if (name == "strict") return Option::Strict;
  if (name == "keep-going") return Option::KeepGoing;
  if (name == "help") return Option::LongHelp;
  if (name == "version") return Option::Version;
  if (name == "define") return Option::Define;
  if (name == "map") return Option::Map;
  if (name == "renumber") return Option::Renumber;
  if (name == "renumber-source") return Option::RenumberSource;
  if (name == "largest-line") return Option::LargestLine;
  if (name == "leave-computed-jumps") return Option::LeaveComputedJumps;
  return Option::Unknown;
}

bool takes_value(Option option) {
  return option == Option::Input || option == Option::Output || option == Option::Define ||
         option == Option::Map || option == Option::Renumber || option == Option::RenumberSource ||
         option == Option::LargestLine;
}

// The option that an argument names, and the value attached to a long option ("--map=FILE").
Option option_of(std::string_view arg, std::optional<std::string_view>& attached) {
  if (arg.starts_with("--")) {
    const std::size_t equals = arg.find('=');
    Option option =
        long_option(arg.substr(2, equals == std::string_view::npos ? arg.npos : equals - 2));
    if (equals != std::string_view::npos) {
      attached = arg.substr(equals + 1);
      if (!takes_value(option)) option = Option::Unknown;
    }
    return option;
  }
  if (arg.size() >= 2 && arg[0] == '-') return short_option(arg[1]);
  return Option::Unknown;
}

}  // namespace

void print_usage(ByteSink& console) {
  console.write("vorpex -i InpFileName -o OutFileName\n");
}

std::optional<Information> information_asked(std::span<const char* const> args) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::optional<std::string_view> attached;
    const Option option = option_of(args[i], attached);
    if (option == Option::LongHelp) return Information::Help;
    if (option == Option::Version) return Information::Version;
    if (takes_value(option) && !attached) ++i;  // a value, whatever it looks like
  }
  return std::nullopt;
}

void print_help(ByteSink& console) {
  print_usage(console);
  console.write(
      "\n"
      "  -i FILE, -o FILE        the source to read and the file to write (\"-\": standard input\n"
      "                          or output)\n"
      "  -D, --define NAME=VALUE define a constant before the first line; it overrides a DEFINE\n"
      "                          of the same name in the source\n"
      "  --map FILE              write the input line of each output line to FILE\n"
      "  -q, --quiet             no banner, file names or success message on standard output\n"
      "  -w, --no-warnings       errors only on standard error\n"
      "  -k, --keep-going        report every problem of the source, not only those before the\n"
      "                          first character that stops the conversion\n"
      "  --strict                fail (status 1) when anything was reported\n"
      "  --renumber START[,STEP] write the program with its lines renumbered from START by STEP\n"
      "                          (10 unless given), every jump to them too\n"
      "  --renumber-source START[,STEP]\n"
      "                          write the source itself renumbered, not converted\n"
      "  --largest-line N        refuse a renumbering that numbers a line above N\n"
      "  --leave-computed-jumps  renumber past a jump whose target is computed (GOTO X), and\n"
      "                          leave it as it is\n"
      "  -h                      the usage line\n"
      "  --help                  this text\n"
      "  --version               the version and the licence\n");
}

void print_version(ByteSink& console) {
  console.write("vorpex " VORPEX_VERSION "\n");
  console.write("MIT License: free to use, change and share; see the LICENSE file.\n");
}

std::optional<int> parse_arguments(std::span<const char* const> args, Arguments& arguments,
                                   ByteSink& console, ErrorLog* errors) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    std::optional<std::string_view> attached;  // the value of "--name=value"
    const Option option = option_of(arg, attached);
    if (option == Option::Help) {
      print_usage(console);
      return 0;
    }
    if (option == Option::Unknown) {
      write_all(console, {"Unknown parameter: ", arg, "\n\n"});
      print_usage(console);
      if (errors != nullptr) errors->line("vorpex: unknown option " + quoted(arg));
      return 1;
    }
    if (!takes_value(option)) {
      if (option == Option::Quiet) arguments.quiet = true;
      if (option == Option::NoWarnings) arguments.no_warnings = true;
      if (option == Option::Strict) arguments.strict = true;
      if (option == Option::KeepGoing) arguments.keep_going = true;
      if (option == Option::LeaveComputedJumps) arguments.leave_computed_jumps = true;
      continue;
    }
    if (!attached && i + 1 == args.size()) {
      const bool number = option == Option::Renumber || option == Option::RenumberSource ||
                          option == Option::LargestLine;
      write_all(console, {option == Option::Define ? "Missing definition for parameter: "
                          : number                 ? "Missing value for parameter: "
                                                   : "Missing file name for parameter: ",
                          arg, "\n\n"});
      print_usage(console);
      if (errors != nullptr) errors->line("vorpex: option " + quoted(arg) + " needs a value");
      return 1;
    }
    const std::string_view value = attached ? *attached : std::string_view(args[++i]);
    switch (option) {
      case Option::Input:
        arguments.input_path = value;
        write_all(console, {"input file: ", value, "\n"});
        break;
      case Option::Output:
        arguments.output_path = value;
        write_all(console, {"output file: ", value, "\n"});
        break;
      case Option::Map:
        arguments.map_path = std::string(value);
        write_all(console, {"map file: ", value, "\n"});
        break;
      case Option::Renumber:
      case Option::RenumberSource:
      case Option::LargestLine: {
        std::uint64_t start = 0;
        std::uint64_t step = 0;
        const bool line = option == Option::LargestLine;
        if (!parse_start_step(value, start, step) ||
            (line && value.find(',') != std::string_view::npos)) {
          write_all(console, {"Invalid value for parameter: ", arg, "\n\n"});
          print_usage(console);
          if (errors != nullptr)
            errors->line("vorpex: option " + quoted(arg) +
                         (line ? " takes a line number" : " takes START or START,STEP"));
          return 1;
        }
        if (line) {
          arguments.largest_line = start;
        } else {
          arguments.renumber = option == Option::Renumber ? Arguments::Renumber::Output
                                                          : Arguments::Renumber::Source;
          arguments.renumber_start = start;
          arguments.renumber_step = step;
        }
        break;
      }
      default:
        arguments.definitions.emplace_back(value);
        break;
    }
  }
  return std::nullopt;
}

}  // namespace vorpex::cli

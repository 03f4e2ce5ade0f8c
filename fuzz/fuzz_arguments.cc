// Parses arbitrary command lines in process: the input is split at NUL bytes into arguments. The
// console text must be the file-name echoes of the option/value pairs taken, then at most one
// closing message that names the argument which ended the parse. When the command line ends the
// run, the whole run is checked too: it stops before any file is opened. A broken property aborts,
// so libFuzzer keeps the input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/arguments.h"
#include "cli/run.h"
#include "platform/console.h"
#include "tests/support/memory_io.h"

namespace {

constexpr std::string_view kUsage = "vorpex -i InpFileName -o OutFileName\n";
constexpr std::string_view kBanner = "vorpex " VORPEX_VERSION " - BASIC source preprocessor\n";

[[noreturn]] void violated(const char* property) {
  std::fprintf(stderr, "fuzz_arguments: property violated: %s\n", property);
  std::abort();
}

void require(bool ok, const char* property) {
  if (!ok) violated(property);
}

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// The console as the program writes it: every LF preceded by a CR.
std::string as_console(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out.push_back('\r');
    out.push_back(c);
  }
  return out;
}

// What parsing a command line must give, worked out independently of the parser: the console
// text, the status when the command line ends the run, and the values taken.
struct Expected {
  std::string console;
  std::optional<int> status;
  vorpex::cli::Arguments arguments;
};

// Decimal digits that a 64-bit number holds.
bool whole_number(std::string_view digits) {
  if (digits.empty()) return false;
  std::uint64_t value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return false;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  return true;
}

// START or START,STEP (the step at least 1); a line number alone when `line`.
bool start_and_step(std::string_view value, bool line) {
  const std::size_t comma = value.find(',');
  if (comma == std::string_view::npos) return whole_number(value);
  const std::string_view step = value.substr(comma + 1);
  return !line && whole_number(value.substr(0, comma)) && whole_number(step) &&
         step.find_first_not_of('0') != std::string_view::npos;
}

Expected model(const std::vector<std::string>& words) {
  Expected e;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    // 'i', 'o', 'h', 'q', 'w', 'k', 'D' for a single dash; 'Q', 'W', 'S', 'K', 'H', 'V', 'd', 'm'
    // for the long ones, and 'r', 's', 'l', 'L' for the renumbering's.
    char option = '?';
    std::optional<std::string> attached;
    if (starts_with(word, "--")) {
      const std::size_t equals = word.find('=');
      const std::string name =
          word.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
      if (name == "quiet") option = 'Q';
      if (name == "no-warnings") option = 'W';
      if (name == "strict") option = 'S';
      if (name == "keep-going") option = 'K';
      if (name == "help") option = 'H';
      if (name == "version") option = 'V';
      if (name == "define") option = 'd';
      if (name == "map") option = 'm';
      if (name == "renumber") option = 'r';
      if (name == "renumber-source") option = 's';
      if (name == "largest-line") option = 'l';
      if (name == "leave-computed-jumps") option = 'L';
      if (equals != std::string::npos) {
        attached = word.substr(equals + 1);
        if (std::string_view("dmrsl").find(option) == std::string_view::npos) option = '?';
      }
    } else if (word.size() >= 2 && word[0] == '-' &&
               std::string_view("ioqwkDh").find(word[1]) != std::string_view::npos) {
      option = word[1];
    }
    if (option == 'h') {
      e.console += kUsage;
      e.status = 0;
      return e;
    }
    if (option == '?') {
      e.console += "Unknown parameter: " + word + "\n\n" + std::string(kUsage);
      e.status = 1;
      return e;
    }
    if (option == 'q' || option == 'Q') e.arguments.quiet = true;
    if (option == 'w' || option == 'W') e.arguments.no_warnings = true;
    if (option == 'S') e.arguments.strict = true;
    if (option == 'k' || option == 'K') e.arguments.keep_going = true;
    if (option == 'L') e.arguments.leave_computed_jumps = true;
    if (std::string_view("qQwWSkKHVL").find(option) != std::string_view::npos) continue;
    const bool define = option == 'D' || option == 'd';
    const bool number = option == 'r' || option == 's' || option == 'l';
    if (!attached && i + 1 == words.size()) {
      e.console += (define   ? "Missing definition for parameter: "
                    : number ? "Missing value for parameter: "
                             : "Missing file name for parameter: ") +
                   word + "\n\n" + std::string(kUsage);
      e.status = 1;
      return e;
    }
    const std::string value = attached ? *attached : words[++i];
    if (number) {
      if (!start_and_step(value, option == 'l')) {
        e.console += "Invalid value for parameter: " + word + "\n\n" + std::string(kUsage);
        e.status = 1;
        return e;
      }
      continue;
    }
    if (define) {
      e.arguments.definitions.push_back(value);
    } else if (option == 'i') {
      e.arguments.input_path = value;
      e.console += "input file: " + value + "\n";
    } else if (option == 'o') {
      e.arguments.output_path = value;
      e.console += "output file: " + value + "\n";
    } else {
      e.arguments.map_path = value;
      e.console += "map file: " + value + "\n";
    }
  }
  return e;
}

void check_parse(const std::vector<std::string>& words, std::span<const char* const> args) {
  vorpex::testing::StringSink console;
  vorpex::testing::StringSink standard_error;
  vorpex::cli::ErrorLog errors(standard_error);
  vorpex::cli::Arguments arguments;
  const std::optional<int> status = vorpex::cli::parse_arguments(args, arguments, console, &errors);
  errors.flush();
  const Expected e = model(words);
  require(status == e.status, "the command line ends the run exactly when it must, with 0 or 1");
  require(console.text == e.console,
          "each file name is echoed as it is taken; a failing argument is named whole, then "
          "the usage line follows");
  require((standard_error.text.empty()) == (!status || *status == 0),
          "a failing command line, and only that, gets a line on standard error");
  const vorpex::cli::Arguments& a = e.arguments;
  require(arguments.input_path == a.input_path && arguments.output_path == a.output_path &&
              arguments.map_path == a.map_path && arguments.definitions == a.definitions &&
              arguments.quiet == a.quiet && arguments.no_warnings == a.no_warnings &&
              arguments.strict == a.strict && arguments.keep_going == a.keep_going &&
              arguments.leave_computed_jumps == a.leave_computed_jumps,
          "the last value of each option is kept, whole, and every definition in order");
}

// The whole run, when it cannot get as far as opening files: fewer than four arguments, or a
// command line that ends the run.
void check_run(const std::vector<std::string>& words, std::span<const char* const> args) {
  // --help or --version anywhere but as a value answers the whole command line.
  std::optional<char> asked;
  for (std::size_t i = 0; i < words.size() && !asked; ++i) {
    if (words[i] == "--help") asked = 'H';
    if (words[i] == "--version") asked = 'V';
    const bool long_value = words[i] == "--define" || words[i] == "--map" ||
                            words[i] == "--renumber" || words[i] == "--renumber-source" ||
                            words[i] == "--largest-line";
    const bool short_value = words[i].size() >= 2 && words[i][0] == '-' &&
                             std::string_view("ioD").find(words[i][1]) != std::string_view::npos;
    if (long_value || short_value) ++i;
  }
  if (asked) {
    vorpex::testing::StringSink screen;
    vorpex::testing::StringSink standard_error;
    vorpex::platform::Console console(screen);
    require(vorpex::cli::run(args, console, standard_error) == 0 && console.flush(),
            "--help and --version end the run with 0");
    const std::string first_line = *asked == 'V' ? "vorpex " : std::string(kBanner);
    require(screen.text.starts_with(as_console(first_line)) && standard_error.text.empty(),
            "--help shows the banner first and --version the version, on standard output");
    return;
  }
  vorpex::testing::StringSink parsed;
  vorpex::cli::Arguments arguments;
  const std::optional<int> status = vorpex::cli::parse_arguments(args, arguments, parsed);
  if (args.size() >= 4 && !status) return;  // the run would open the files

  vorpex::testing::StringSink screen;
  vorpex::testing::StringSink standard_error;
  int run_status;
  {
    vorpex::platform::Console console(screen);
    run_status = vorpex::cli::run(args, console, standard_error);
    require(console.flush(), "the console accepts the messages");
  }
  if (args.size() < 4) {
    require(run_status == 2, "fewer than four arguments end with 2");
    require(screen.text == as_console(std::string(kBanner) + std::string(kUsage)),
            "fewer than four arguments give the banner and the usage line only");
  } else {
    require(run_status == *status, "the run ends with the command line's status");
    const std::string shown = as_console(std::string(kBanner) + parsed.text);
    // -q sends the console nowhere, and -o - sends it to standard error.
    if (arguments.quiet) {
      require(screen.text.empty(), "a quiet run shows nothing");
    } else if (arguments.output_path == "-") {
      require(screen.text.empty() && standard_error.text.starts_with(shown),
              "with the program on standard output, the console goes to standard error");
    } else {
      require(screen.text == shown,
              "the run shows the banner, then the command line's messages, through the console");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> words;
  if (size > 0) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::size_t start = 0;
    for (;;) {
      const std::size_t nul = text.find('\0', start);
      words.emplace_back(text.substr(start, nul - start));
      if (nul == std::string_view::npos) break;
      start = nul + 1;
    }
  }
  std::vector<const char*> args;
  for (const std::string& word : words)
    args.push_back(word.c_str());

  check_parse(words, args);
  check_run(words, args);
  return 0;
}

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

// The option letter of an argument: its second character when it begins with '-', else none.
char option_of(std::string_view arg) {
  return arg.size() >= 2 && arg[0] == '-' ? arg[1] : '\0';
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

void check_parse(const std::vector<std::string>& words, std::span<const char* const> args) {
  vorpex::testing::StringSink console;
  vorpex::cli::Arguments arguments;
  const std::optional<int> status = vorpex::cli::parse_arguments(args, arguments, console);
  require(!status || *status == 0 || *status == 1, "the command line ends the run with 0 or 1");

  // The pairs taken, each echoed as it was taken; the last value of each option wins.
  std::string_view rest = console.text;
  std::string input_path;
  std::string output_path;
  std::size_t i = 0;
  for (; i + 1 < words.size(); i += 2) {
    const char option = option_of(words[i]);
    if (option != 'i' && option != 'o') break;
    const std::string echo =
        (option == 'i' ? "input file: " : "output file: ") + words[i + 1] + "\n";
    require(starts_with(rest, echo), "each file name is echoed as it is taken");
    rest.remove_prefix(echo.size());
    (option == 'i' ? input_path : output_path) = words[i + 1];
  }

  if (!status) {
    require(i == words.size(), "a command line that goes on was all option/value pairs");
    require(rest.empty(), "a command line that goes on writes only the echoes");
    require(arguments.input_path == input_path && arguments.output_path == output_path,
            "the last value of each option is kept, whole");
    return;
  }
  require(i < words.size(), "a command line that ends the run has an argument that ended it");
  const std::string& last = words[i];
  const char option = option_of(last);
  if (*status == 0) {
    require(option == 'h' && rest == kUsage, "-h writes the usage line and ends with 0");
    return;
  }
  std::string expected;
  if (option == 'i' || option == 'o') {
    require(i + 1 == words.size(), "only an option with no value after it lacks its file name");
    expected = "Missing file name for parameter: " + last + "\n\n";
  } else {
    require(option != 'h', "-h never fails");
    expected = "Unknown parameter: " + last + "\n\n";
  }
  require(rest == expected + std::string(kUsage),
          "a failing argument is named whole, then the usage line follows");
}

// The whole run, when it cannot get as far as opening files: fewer than four arguments, or a
// command line that ends the run.
void check_run(std::span<const char* const> args) {
  vorpex::testing::StringSink parsed;
  vorpex::cli::Arguments arguments;
  const std::optional<int> status = vorpex::cli::parse_arguments(args, arguments, parsed);
  if (args.size() >= 4 && !status) return;  // the run would open the files

  vorpex::testing::StringSink screen;
  int run_status;
  {
    vorpex::platform::Console console(screen);
    run_status = vorpex::cli::run(args, console);
    require(console.flush(), "the console accepts the messages");
  }
  if (args.size() < 4) {
    require(run_status == 2, "fewer than four arguments end with 2");
    require(screen.text == as_console(std::string(kBanner) + std::string(kUsage)),
            "fewer than four arguments give the banner and the usage line only");
  } else {
    require(run_status == *status, "the run ends with the command line's status");
    require(screen.text == as_console(std::string(kBanner) + parsed.text),
            "the run shows the banner, then the command line's messages, through the console");
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
  check_run(args);
  return 0;
}

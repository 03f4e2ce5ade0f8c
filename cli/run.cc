#include "cli/run.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/console.h"
#include "platform/error_number.h"
#include "platform/text_reader.h"
#include "session/renumber.h"
#include "session/session.h"

namespace vorpex::cli {

namespace {

constexpr std::string_view kBanner = "vorpex " VORPEX_VERSION " - BASIC source preprocessor\n";

// The size of a buffer for an input of `size` bytes (-1: unknown): `block`, or less for a smaller
// file. The buffers grow or flush past it, so the size never limits what can be read or written.
std::size_t buffer_size(std::int64_t size, std::size_t block) {
  constexpr std::size_t kSmallest = 4096;
  if (size < 0 || static_cast<std::uint64_t>(size) >= block) return block;
  return std::max(static_cast<std::size_t>(size) + 1, kSmallest);
}

// Reads the whole input for a renumbering, before any other file is opened: a refusal then leaves
// the output as it was. Returns the exit status when the input cannot be read.
std::optional<int> read_input(const Arguments& arguments, std::string& source,
                              platform::Console& console, ErrorLog& errors) {
  platform::OpenResult input;
  int fd = 0;  // standard input is read, not owned
  if (arguments.input_path != kStandardStream) {
    input = platform::open_for_reading(arguments.input_path);
    if (!input.file.is_open()) {
      report_open_failure(console, errors, arguments.input_path, input.error);
      return 1;
    }
    fd = input.file.fd();
  }
  std::vector<char> block(platform::TextReader::kBlockSize);
  for (;;) {
    int error = 0;
    const std::ptrdiff_t got = platform::read_some(fd, block, error);
    if (got < 0) {
      console.flush();
      report_io_failure(&console, errors, Io::Read, arguments.input_path, error);
      return 1;
    }
    if (got == 0) return std::nullopt;
    source.append(block.data(), static_cast<std::size_t>(got));
  }
}

// The renumbering that --renumber and --renumber-source ask for, its warnings on standard error
// as the diagnostics are written. Returns the exit status when it is refused.
std::optional<int> renumber_input(const Arguments& arguments, const SessionOptions& options,
                                  std::string& source, ErrorLog& errors) {
  RenumberRequest request;
  request.start = arguments.renumber_start;
  request.step = arguments.renumber_step;
  request.largest = arguments.largest_line;
  request.past_computed = arguments.leave_computed_jumps;
  RenumberResult result = renumber(source, request, options);
  if (result.refused()) {
    errors.line("vorpex: " + result.refusal +
                (result.refused_computed ? " (--leave-computed-jumps)" : ""));
    return 1;
  }
  if (options.warnings) {
    const std::string file =
        arguments.input_path == kStandardStream ? "<stdin>" : arguments.input_path;
    for (const RenumberWarning& w : result.warnings)
      errors.line(file + ":" + std::to_string(w.place.line) + ":" + std::to_string(w.place.column) +
                  ": warning: " + w.message + " [" + w.code + "]");
  }
  source = std::move(result.text);
  return std::nullopt;
}

}  // namespace

namespace {

int run_with(std::span<const char* const> args, platform::Console& console,
             ByteSink& standard_error, ErrorLog& errors) {
  if (const std::optional<Information> asked = information_asked(args)) {
    if (*asked == Information::Version) {
      print_version(console);
    } else {
      console.write(kBanner);
      print_help(console);
    }
    return 0;
  }
  console.write(kBanner);
  if (args.size() < 4) {
    print_usage(console);
    return 2;
  }
  // The console is held until the command line says where it goes: nowhere with -q, and to
  // standard error when the program itself goes to standard output.
  console.hold(true);
  Arguments arguments;
  const std::optional<int> parsed = parse_arguments(args, arguments, console, &errors);
  if (arguments.quiet) {
    console.silence();
  } else if (arguments.output_path == kStandardStream) {
    console.redirect(standard_error);
  }
  console.hold(false);
  if (parsed) return *parsed;

  // Constants from the command line are checked before any file is opened.
  SessionOptions options;
  options.defines = arguments.definitions;
  options.warnings = !arguments.no_warnings;
  options.keep_going = arguments.keep_going;
  if (const std::string refusal = refuse_constants(options.defines); !refusal.empty()) {
    errors.line("vorpex: " + refusal);
    return 1;
  }

  // A renumbering reads the whole input first, and is refused before the output is opened.
  std::optional<std::string> renumbered;
  if (arguments.renumber != Arguments::Renumber::None) {
    if (arguments.renumber == Arguments::Renumber::Source && arguments.map_path) {
      errors.line("vorpex: --map cannot go with --renumber-source: the source is not converted");
      return 1;
    }
    renumbered.emplace();
    if (std::optional<int> status = read_input(arguments, *renumbered, console, errors))
      return *status;
    if (std::optional<int> status = renumber_input(arguments, options, *renumbered, errors))
      return *status;
  }

  Files files;
  if (std::optional<int> status = open_files(arguments, files, console, errors)) return *status;
  console.flush();  // the banner and the file names show while a long conversion runs

  if (arguments.renumber == Arguments::Renumber::Source) {
    platform::FdSink output(files.output.fd());
    output.write(*renumbered);
    int write_error = output.error();
    const int close_error = files.output.close();
    if (write_error == 0) write_error = close_error;
    files.input.close();
    // As for a conversion: only a source written whole is put in place.
    std::string failed;
    if (const int error = finish_files(files, write_error == 0, failed)) write_error = error;
    console.flush();
    errors.flush();
    if (write_error != 0) {
      report_io_failure(&console, errors, Io::Write, arguments.output_path, write_error);
      return 1;
    }
    console.write("Renumber success!\n");
    return 0;
  }

  // A small file gets buffers of its own size rather than the full blocks, which the allocator
  // would map and unmap for each run; pages that are never touched cost nothing either way.
  const std::size_t input_block = buffer_size(files.input_size, platform::TextReader::kBlockSize);
  platform::TextReader reader(files.input.fd(), input_block);
  platform::FdSink output(files.output.fd());
  platform::FdSink map_file(files.map.is_open() ? files.map.fd() : -1);
  std::optional<MapRowWriter> map;
  if (files.map.is_open()) map.emplace(map_file);
  DiagnosticPrinter printer(
      errors, arguments.input_path == kStandardStream ? "<stdin>" : arguments.input_path);
  QuoteWarnings quote_warnings(console);
  Session session(options, output, &printer, map ? &*map : nullptr, nullptr,
                  buffer_size(files.input_size, OutputBuffer::kDefaultCapacity));
  session.watch_every_diagnostic(&quote_warnings);
  std::optional<SourceLines> lines;
  if (renumbered) lines.emplace(*renumbered);
  const ProcessResult result = lines ? session.run(*lines) : session.run(reader);

  int write_error = output.error();
  const int close_error = files.output.close();
  if (write_error == 0) write_error = close_error;
  int map_error = 0;
  if (map) {
    map->flush();
    map_error = map_file.error();
    const int map_close_error = files.map.close();
    if (map_error == 0) map_error = map_close_error;
  }
  files.input.close();
  // Only a run that read its whole input and wrote every byte puts its files in place; a failed
  // one leaves them as they were before it.
  const bool complete = write_error == 0 && map_error == 0 && !reader.failed();
  std::string failed;
  if (const int error = finish_files(files, complete, failed)) {
    (failed == files.output_target.path ? write_error : map_error) = error;
  }
  // The console's messages come first, in the order they were written.
  console.flush();
  errors.flush();

  if (write_error != 0) {
    report_io_failure(&console, errors, Io::Write, arguments.output_path, write_error);
    return 1;
  }
  if (map_error != 0) {
    report_io_failure(&console, errors, Io::Write, *arguments.map_path, map_error);
    return 1;
  }
  if (reader.failed()) {
    // A read failure ends the input, so after a stop it was met only because -k read on: it is
    // told on standard error alone, and standard output stays that of the run without -k.
    const bool past_stop = result.outcome == Outcome::UnknownToken;
    report_io_failure(past_stop ? nullptr : &console, errors, Io::Read, arguments.input_path,
                      reader.error());
    return 1;
  }
  if (result.outcome != Outcome::Done) return 1;
  if (arguments.strict && (session.errors() > 0 || session.warnings() > 0)) return 1;
  console.write("Convert success!\n");
  return 0;
}

}  // namespace

int run(std::span<const char* const> args, platform::Console& console, ByteSink& standard_error) {
  ErrorLog errors(standard_error);
  int status = run_with(args, console, standard_error, errors);
  console.flush();
  if (!errors.flush() && status == 0) status = 1;
  return status;
}

}  // namespace vorpex::cli

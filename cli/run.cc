#include "cli/run.h"

#include <string>
#include <string_view>

#include "engine/line_processor.h"
#include "platform/console.h"
#include "platform/error_number.h"
#include "platform/text_reader.h"

namespace vorpex::cli {

namespace {

constexpr std::string_view kBanner = "vorpex " VORPEX_VERSION " - BASIC source preprocessor\n";

// Writes "<what><path>, error: <number><end>".
void report_file_error(ByteSink& console, std::string_view what, const std::string& path,
                       int number, std::string_view end) {
  console.write(what);
  console.write(path);
  console.write(", error: ");
  console.write(std::to_string(number));
  console.write(end);
}

}  // namespace

std::optional<int> open_files(const Arguments& arguments, Files& files, ByteSink& console) {
  platform::OpenResult input = platform::open_for_reading(arguments.input_path);
  if (!input.file.is_open()) {
    report_file_error(console, "Could not open file: ", arguments.input_path,
                      platform::open_error_number(input.error), "");
    return 1;
  }
  bool same_as_input = false;
  platform::OpenResult output =
      platform::open_for_writing(arguments.output_path, input.file.fd(), same_as_input);
  if (same_as_input) {
    console.write("Input and output are the same file: ");
    console.write(arguments.output_path);
    console.write("\n");
    return 1;
  }
  if (!output.file.is_open()) {
    report_file_error(console, "Could not open file: ", arguments.output_path,
                      platform::open_error_number(output.error), "");
    return 1;
  }
  files.input = std::move(input.file);
  files.output = std::move(output.file);
  return std::nullopt;
}

int run(std::span<const char* const> args, platform::Console& console) {
  console.write(kBanner);
  if (args.size() < 4) {
    print_usage(console);
    return 2;
  }
  Arguments arguments;
  if (std::optional<int> status = parse_arguments(args, arguments, console)) return *status;
  Files files;
  if (std::optional<int> status = open_files(arguments, files, console)) return *status;
  console.flush();  // the banner and the file names show while a long conversion runs

  platform::TextReader reader(files.input.fd());
  platform::FdSink output(files.output.fd());
  LineProcessor processor(output, &console);
  const ProcessResult result = processor.process_input(reader);

  int write_error = output.error();
  const int close_error = files.output.close();
  if (write_error == 0) write_error = close_error;
  files.input.close();

  if (write_error != 0) {
    report_file_error(console, "Could not write file: ", arguments.output_path, write_error, "\n");
    return 1;
  }
  if (reader.failed()) {
    report_file_error(console, "Could not read file: ", arguments.input_path, reader.error(), "\n");
    return 1;
  }
  if (result.outcome != Outcome::Done) return 1;
  console.write("Convert success!\n");
  return 0;
}

}  // namespace vorpex::cli

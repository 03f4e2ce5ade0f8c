#include "cli/files.h"

#include <string>
#include <string_view>

#include "engine/diagnostic_text.h"
#include "engine/writer.h"
#include "platform/error_number.h"

namespace vorpex::cli {

namespace {

void report_same_file(ByteSink& console, ErrorLog& errors, std::string_view message,
                      const std::string& path, std::string_view what) {
  console.write(message);
  console.write(path);
  console.write("\n");
  errors.line("vorpex: " + quoted(path) + " is " + std::string(what) +
              ": refusing to write over it");
}

std::string system_line(std::string_view verb, const std::string& path, int error) {
  return "vorpex: cannot " + std::string(verb) + " " + quoted(path) + ": " +
         platform::error_text(error);
}

void write_failure(ByteSink& console, std::string_view what, const std::string& path, int number) {
  console.write(what);
  console.write(path);
  console.write(", error: ");
  console.write(Decimal(number).view());
}

}  // namespace

void report_open_failure(platform::Console& console, ErrorLog& errors, const std::string& path,
                         int error) {
  // The console's message has no line end: it comes last, so that the standard error line does
  // not run on after it.
  errors.line(system_line("open", path, error));
  console.flush();
  errors.flush();
  write_failure(console, "Could not open file: ", path, platform::open_error_number(error));
}

void report_io_failure(platform::Console* console, ErrorLog& errors, Io io, const std::string& path,
                       int error) {
  if (console != nullptr) {
    write_failure(*console,
                  io == Io::Read ? "Could not read file: " : "Could not write file: ", path, error);
    console->write("\n");
  }
  errors.line(system_line(io == Io::Read ? "read" : "write", path, error));
}

std::optional<int> open_files(const Arguments& arguments, Files& files, platform::Console& console,
                              ErrorLog& errors) {
  const auto cannot_open = [&](const std::string& path, int error) {
    report_open_failure(console, errors, path, error);
    return 1;
  };
  platform::OpenResult input = arguments.input_path == kStandardStream
                                   ? platform::open_standard(0, {})
                                   : platform::open_for_reading(arguments.input_path);
  if (!input.file.is_open()) return cannot_open(arguments.input_path, input.error);
  const int input_fd = input.file.fd();
  platform::OpenResult output =
      arguments.output_path == kStandardStream
          ? platform::open_standard(1, {&input_fd, 1})
          : platform::open_for_writing(arguments.output_path, {&input_fd, 1});
  if (output.same_file) {
    report_same_file(console, errors, "Input and output are the same file: ", arguments.output_path,
                     "the input file");
    return 1;
  }
  if (!output.file.is_open()) return cannot_open(arguments.output_path, output.error);
  platform::OpenResult map;
  // The files that this run created go again when the run stops before writing them.
  const auto give_up = [&] {
    for (platform::OpenResult* file : {&output, &map}) {
      if (file->created.empty()) continue;
      file->file.close();
      platform::remove_file(file->created);
    }
  };
  if (arguments.map_path) {
    const int kept[] = {input_fd, output.file.fd()};
    map = platform::open_for_writing(*arguments.map_path, kept);
    if (map.same_file) {
      give_up();
      report_same_file(console, errors,
                       "The map file is the input or the output file: ", *arguments.map_path,
                       "the input or the output file");
      return 1;
    }
    if (!map.file.is_open()) {
      give_up();
      return cannot_open(*arguments.map_path, map.error);
    }
  }
  // Every file is open and none is another: only now are the output and the map emptied, or
  // replaced by temporaries that take their place when the run is complete.
  Target targets[2];
  const auto prepare = [&](platform::OpenResult& file, const std::string& path, Target& target) {
    target.path = path;
    target.created = file.created;
    if (file.created.empty()) {
      platform::OpenResult replacement = platform::open_replacement(path, file.file);
      if (replacement.file.is_open()) {
        file.file = std::move(replacement.file);
        target.temporary = std::move(replacement.created);
        return 0;
      }
    }
    return platform::empty_file(file.file);
  };
  const auto remove_temporaries = [&] {
    for (const Target& target : targets) {
      if (!target.temporary.empty()) platform::remove_file(target.temporary);
    }
  };
  if (arguments.output_path != kStandardStream) {
    if (const int error = prepare(output, arguments.output_path, targets[0])) {
      give_up();
      return cannot_open(arguments.output_path, error);
    }
  }
  if (map.file.is_open()) {
    if (const int error = prepare(map, *arguments.map_path, targets[1])) {
      output.file.close();
      remove_temporaries();
      give_up();
      return cannot_open(*arguments.map_path, error);
    }
  }
  files.map = std::move(map.file);
  files.input = std::move(input.file);
  files.input_size = input.size;
  files.output = std::move(output.file);
  files.output_target = std::move(targets[0]);
  files.map_target = std::move(targets[1]);
  return std::nullopt;
}

int finish_files(Files& files, bool complete, std::string& failed) {
  int error = 0;
  for (Target* target : {&files.output_target, &files.map_target}) {
    if (complete && error == 0 && !target->temporary.empty()) {
      error = platform::replace_file(target->temporary, target->path);
      if (error == 0) {
        target->temporary.clear();
      } else {
        failed = target->path;
      }
    }
    // A failed run, or one whose output could not take its place, leaves its files as they were.
    if (!complete || error != 0) {
      if (!target->temporary.empty()) platform::remove_file(target->temporary);
      if (!target->created.empty()) platform::remove_file(target->created);
    }
    target->temporary.clear();
    target->created.clear();
  }
  return error;
}

}  // namespace vorpex::cli

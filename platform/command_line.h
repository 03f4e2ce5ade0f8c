#pragma once

#include <span>
#include <string>
#include <vector>

namespace vorpex::platform {

// The program's arguments as UTF-8 strings, without the program name. On POSIX systems they are
// argv as it is; on Windows they are taken from the wide command line and converted, so that any
// file name survives whatever the console's code page.
class CommandLine {
 public:
  CommandLine(int argc, char** argv);
  CommandLine(const CommandLine&) = delete;
  CommandLine& operator=(const CommandLine&) = delete;

  std::span<const char* const> arguments() const { return pointers_; }

 private:
  std::vector<std::string> words_;  // the converted words, where the platform's are not UTF-8
  std::vector<const char*> pointers_;
};

}  // namespace vorpex::platform

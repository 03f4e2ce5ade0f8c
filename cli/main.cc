#include <span>

#include "cli/run.h"
#include "platform/console.h"
#include "platform/file.h"

int main(int argc, char** argv) {
  vorpex::platform::guard_standard_descriptors();
  vorpex::platform::FdSink standard_output(1);
  vorpex::platform::Console console(standard_output);
  const auto args = std::span<const char* const>(argv, static_cast<std::size_t>(argc)).subspan(1);
  const int status = vorpex::cli::run(args, console);
  console.flush();
  return status;
}

#include "cli/run.h"
#include "platform/command_line.h"
#include "platform/console.h"
#include "platform/file.h"

int main(int argc, char** argv) {
  // With a standard descriptor closed and no /dev/null to put there, the output file could take
  // its number and receive console messages: refuse to run.
  if (!vorpex::platform::guard_standard_descriptors()) return 1;
  const vorpex::platform::CommandLine command_line(argc, argv);
  vorpex::platform::FdSink standard_output(1);
  vorpex::platform::FdSink standard_error(2);
  vorpex::platform::Console console(standard_output);
  int status = vorpex::cli::run(command_line.arguments(), console, standard_error);
  // Messages that could not be shown make the run a failure, as with the usual command-line tools;
  // the output file is complete all the same.
  if (!console.flush() && status == 0) status = 1;
  return status;
}

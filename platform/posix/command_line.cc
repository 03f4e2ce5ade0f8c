#include "platform/command_line.h"

namespace vorpex::platform {

CommandLine::CommandLine(int argc, char** argv) {
  // A process may be started with no arguments at all, not even its own name.
  for (int i = 1; i < argc; ++i)
    pointers_.push_back(argv[i]);
}

}  // namespace vorpex::platform

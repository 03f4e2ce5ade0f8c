#pragma once

namespace vorpex::platform {

// Switches a console on standard output or standard error to the UTF-8 code page for the run, so
// that file names show as they are; the console's own code page comes back when the run ends,
// also by std::terminate.
void use_utf8_console();

}  // namespace vorpex::platform

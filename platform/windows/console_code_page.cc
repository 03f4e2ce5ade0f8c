#include "platform/windows/console_code_page.h"

#include <io.h>
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <exception>

namespace vorpex::platform {

namespace {

UINT saved_console_code_page = 0;

void restore_console_code_page() {
  ::SetConsoleOutputCP(saved_console_code_page);
}

HANDLE handle_of(int fd) {
  return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

}  // namespace

void use_utf8_console() {
  // Either stream may be the console while the other is redirected (diagnostics reach the
  // console with standard output in a file).
  DWORD mode = 0;
  const bool console =
      ::GetConsoleMode(handle_of(1), &mode) || ::GetConsoleMode(handle_of(2), &mode);
  if (console && ::GetConsoleOutputCP() != CP_UTF8) {
    saved_console_code_page = ::GetConsoleOutputCP();
    if (::SetConsoleOutputCP(CP_UTF8)) {
      std::atexit(restore_console_code_page);
      // A run that ends by std::terminate (out of memory) skips atexit.
      std::set_terminate([] {
        restore_console_code_page();
        std::abort();
      });
    }
  }
}

}  // namespace vorpex::platform

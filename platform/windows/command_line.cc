#include "platform/command_line.h"

#include <windows.h>

#include <shellapi.h>

#include "platform/windows/wide.h"

namespace vorpex::platform {

CommandLine::CommandLine(int /*argc*/, char** /*argv*/) {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return;
  for (int i = 1; i < count; ++i)
    words_.push_back(narrow(wide[i]));
  ::LocalFree(wide);
  for (const std::string& word : words_)
    pointers_.push_back(word.c_str());
}

}  // namespace vorpex::platform

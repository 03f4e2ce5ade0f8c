#include "platform/windows/wide.h"

#include <windows.h>

#include <algorithm>

namespace vorpex::platform {

std::wstring widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int size = static_cast<int>(utf8.size());
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), size);
  wide.resize(static_cast<std::size_t>(std::max(n, 0)));
  return wide;
}

std::string narrow(std::wstring_view utf16) {
  if (utf16.empty()) return {};
  const int size = static_cast<int>(utf16.size());
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(std::max(n, 0)), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, utf8.data(), n, nullptr, nullptr);
  return utf8;
}

}  // namespace vorpex::platform

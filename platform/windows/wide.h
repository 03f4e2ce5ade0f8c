#pragma once

#include <string>
#include <string_view>

namespace vorpex::platform {

// UTF-8 to UTF-16 and back. Bytes that are not UTF-8, and lone surrogates, become U+FFFD.
std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view utf16);

}  // namespace vorpex::platform

#pragma once

#include <string>
#include <string_view>

namespace vorpex::platform {

// The error number shown for a file that could not be opened: 2 when the file, or a directory on
// its path, does not exist or the name is not valid; 5 when access is refused (a protected or
// read-only file, a file held by another program, a path that names a directory). Other errors
// keep the platform's number.
int open_error_number(int error);

// The system's own words for an error number, as its tools print them.
std::string error_text(int error);

// How lines end in text that this platform's own tools write to standard error.
#ifdef _WIN32
inline constexpr std::string_view kNativeLineEnd = "\r\n";
#else
inline constexpr std::string_view kNativeLineEnd = "\n";
#endif

}  // namespace vorpex::platform

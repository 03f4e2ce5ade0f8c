#pragma once

#include <string>
#include <string_view>

namespace vorpex::platform {

// The error number shown for a file that could not be opened: 2 when the file, or a directory on
// its path, does not exist or the name is not valid; 5 when access is refused (a protected or
// read-only file, a file held by another program, a path that names a directory). Other errors
// keep the platform's number.
int open_error_number(int error);

// The system's own words for an error number, as its tools print them: on Windows, those of the
// C runtime.
std::string error_text(int error);

#ifdef _WIN32
// The C runtime's error number for a Windows error code, as the runtime's own calls set it for a
// file; the codes that its table leaves to EINVAL although they say what went wrong (a full disk
// through a handle, a network name gone, a device error) get the number they mean.
int errno_from_windows_error(unsigned long code);
#endif

}  // namespace vorpex::platform

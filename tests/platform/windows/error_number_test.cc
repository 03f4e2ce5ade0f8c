#include "platform/error_number.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cerrno>
#include <string>

namespace vorpex::platform {
namespace {

// What a failure shows: the C runtime's number, the number after "Could not open file: ...,
// error:", and the runtime's own words on standard error.
TEST(WindowsErrorNumberTest, SaysWhatWentWrong) {
  struct Case {
    unsigned long code;
    int error;
    int open_number;
    std::string words;
  };
  const Case cases[] = {
      {ERROR_FILE_NOT_FOUND, ENOENT, 2, "No such file or directory"},
      {ERROR_FILENAME_EXCED_RANGE, ENOENT, 2, "No such file or directory"},
      {ERROR_BUFFER_OVERFLOW, ENAMETOOLONG, 2, "Filename too long"},
      {ERROR_CANT_RESOLVE_FILENAME, EINVAL, 2, "Invalid argument"},  // a loop of links
      {ERROR_ACCESS_DENIED, EACCES, 5, "Permission denied"},
      {ERROR_SHARING_VIOLATION, EACCES, 5, "Permission denied"},
      {ERROR_LOCK_VIOLATION, EACCES, 5, "Permission denied"},
      {ERROR_NOT_READY, EACCES, 5, "Permission denied"},
      {ERROR_DISK_FULL, ENOSPC, 28, "No space left on device"},
      {ERROR_HANDLE_DISK_FULL, ENOSPC, 28, "No space left on device"},
      {1295 /* ERROR_DISK_QUOTA_EXCEEDED */, ENOSPC, 28, "No space left on device"},
      {ERROR_NOT_ENOUGH_QUOTA, ENOMEM, ENOMEM, "Not enough space"},
      {ERROR_NETNAME_DELETED, EIO, EIO, "Input/output error"},
      {ERROR_IO_DEVICE, EIO, EIO, "Input/output error"},
      {ERROR_BROKEN_PIPE, EPIPE, EPIPE, "Broken pipe"},
      {ERROR_NO_DATA, EPIPE, EPIPE, "Broken pipe"},
  };
  for (const Case& c : cases) {
    const int error = errno_from_windows_error(c.code);
    EXPECT_EQ(error, c.error) << "code " << c.code;
    EXPECT_EQ(open_error_number(error), c.open_number) << "code " << c.code;
    EXPECT_EQ(error_text(error), c.words) << "code " << c.code;
  }
}

}  // namespace
}  // namespace vorpex::platform

// The Windows side of platform/error_number.h.
#include <windows.h>

#include <array>
#include <cerrno>
#include <string_view>

#include "platform/error_number.h"

namespace vorpex::platform {

namespace {

// A disk quota used up; newer than the headers of some toolchains.
constexpr unsigned long kDiskQuotaExceeded = 1295;

// The words of the Windows C runtime (msvcrt.dll, and the universal runtime after it) for its
// error numbers. They are written out here because wine's runtime has other words for several of
// them, and a message must read the same wherever the program runs.
constexpr std::array<std::string_view, 43> kRuntimeWords = {
    "No error",
    "Operation not permitted",
    "No such file or directory",
    "No such process",
    "Interrupted function call",
    "Input/output error",
    "No such device or address",
    "Arg list too long",
    "Exec format error",
    "Bad file descriptor",
    "No child processes",
    "Resource temporarily unavailable",
    "Not enough space",
    "Permission denied",
    "Bad address",
    "Unknown error",
    "Resource device",
    "File exists",
    "Improper link",
    "No such device",
    "Not a directory",
    "Is a directory",
    "Invalid argument",
    "Too many open files in system",
    "Too many open files",
    "Inappropriate I/O control operation",
    "Unknown error",
    "File too large",
    "No space left on device",
    "Invalid seek",
    "Read-only file system",
    "Too many links",
    "Broken pipe",
    "Domain error",
    "Result too large",
    "Unknown error",
    "Resource deadlock avoided",
    "Unknown error",
    "Filename too long",
    "No locks available",
    "Function not implemented",
    "Directory not empty",
    "Illegal byte sequence",
};

}  // namespace

std::string error_text(int error) {
  if (error < 0 || static_cast<std::size_t>(error) >= kRuntimeWords.size()) return "Unknown error";
  return std::string(kRuntimeWords[static_cast<std::size_t>(error)]);
}

int errno_from_windows_error(unsigned long code) {
  switch (code) {
    // The C runtime's own table, for the codes that opening, reading and writing a file give.
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_NO_MORE_FILES:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_CURRENT_DIRECTORY:
    case ERROR_NETWORK_ACCESS_DENIED:
    case ERROR_CANNOT_MAKE:
    case ERROR_FAIL_I24:
    case ERROR_DRIVE_LOCKED:
    case ERROR_SEEK_ON_DEVICE:
    case ERROR_NOT_LOCKED:
    case ERROR_LOCK_FAILED:
      return EACCES;
    case ERROR_TOO_MANY_OPEN_FILES:
      return EMFILE;
    case ERROR_ARENA_TRASHED:
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_INVALID_BLOCK:
    case ERROR_NOT_ENOUGH_QUOTA:
      return ENOMEM;
    case ERROR_INVALID_HANDLE:
    case ERROR_INVALID_TARGET_HANDLE:
    case ERROR_DIRECT_ACCESS_HANDLE:
      return EBADF;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_BROKEN_PIPE:
      return EPIPE;
    case ERROR_DISK_FULL:
      return ENOSPC;
    // Codes that the runtime's table leaves to "Invalid argument", by what they mean: a name
    // that cannot be a file's is a missing file, as a misspelt one is.
    case ERROR_INVALID_NAME:
    case ERROR_DIRECTORY:
      return ENOENT;
    case ERROR_DELETE_PENDING:
      return EACCES;
    case ERROR_HANDLE_DISK_FULL:
    case kDiskQuotaExceeded:
      return ENOSPC;
    case ERROR_OUTOFMEMORY:
    case ERROR_NO_SYSTEM_RESOURCES:
      return ENOMEM;
    case ERROR_NO_DATA:  // the reading end of a pipe is closed
      return EPIPE;
    case ERROR_BUFFER_OVERFLOW:  // "The file name is too long."
      return ENAMETOOLONG;
    case ERROR_NETNAME_DELETED:
    case ERROR_UNEXP_NET_ERR:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_SEM_TIMEOUT:
    case ERROR_IO_DEVICE:
    case ERROR_DEVICE_NOT_CONNECTED:
      return EIO;
    default:
      break;
  }
  // The runtime's rule for the rest: the device and sharing errors from a write-protected medium
  // to a full sharing buffer (a drive not ready, a read fault, a file or a range locked by another
  // program) refuse access; anything else is an invalid argument.
  if (code >= ERROR_WRITE_PROTECT && code <= ERROR_SHARING_BUFFER_EXCEEDED) return EACCES;
  return EINVAL;
}

}  // namespace vorpex::platform

#include "platform/error_number.h"

#include <cerrno>
#include <cstring>

namespace vorpex::platform {

int open_error_number(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case EINVAL:
      return 2;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
    case ETXTBSY:
    case EBUSY:
      return 5;
    default:
      return error;
  }
}

std::string error_text(int error) {
  return std::strerror(error);
}

}  // namespace vorpex::platform

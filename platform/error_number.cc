#include "platform/error_number.h"

#include <cerrno>

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

}  // namespace vorpex::platform

// The POSIX side of platform/error_number.h.
#include <cstring>

#include "platform/error_number.h"

namespace vorpex::platform {

std::string error_text(int error) {
  return std::strerror(error);
}

}  // namespace vorpex::platform

#include "platform/file.h"

namespace vorpex::platform {

OpenResult open_standard(int fd, std::span<const int> keep) {
  OpenResult result;
  if (fd != 0) result.same_file = is_kept_file(fd, keep, result.error);
  if (!result.same_file && result.error == 0) result.file = File(fd);
  return result;
}

void give_up_kept_file(OpenResult& result) {
  // Writing over the input would destroy it. A file made just now cannot be the input, but the
  // check may fail: then the file goes again.
  if (!result.same_file && result.error == 0) return;
  result.file.close();
  if (!result.created.empty()) remove_file(result.created);
  result.created.clear();
}

}  // namespace vorpex::platform

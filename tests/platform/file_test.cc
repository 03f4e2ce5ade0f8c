#include "platform/file.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <cerrno>
#include <filesystem>
#include <string>

namespace vorpex::platform {
namespace {

// A descriptor that is not open stands in for a file whose kind cannot be told: emptying it is not
// confirmed, so it fails rather than leaving an old file's tail after the new text.
TEST(FileTest, EmptyingAFileOfUnknownKindFails) {
  EXPECT_EQ(empty_file(File()), EBADF);
}

#ifndef _WIN32
// A descriptor that is not open among the files to keep makes the same-file check fail: the file
// that the open made is removed again.
TEST(FileTest, FileMadeIsRemovedWhenTheSameFileCheckFails) {
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("vorpex_file_test_" + std::to_string(::getpid()));
  const int not_open[] = {-1};
  const OpenResult result = open_for_writing(path.string(), not_open);
  EXPECT_FALSE(result.file.is_open());
  EXPECT_EQ(result.error, EBADF);
  EXPECT_FALSE(result.same_file);
  EXPECT_FALSE(std::filesystem::exists(path));
}
#endif

}  // namespace
}  // namespace vorpex::platform

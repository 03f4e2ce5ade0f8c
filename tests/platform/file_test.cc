#include "platform/file.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <span>
#include <string>

#include "engine/line_processor.h"
#include "platform/text_reader.h"
#include "tests/support/memory_io.h"

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

// The first lines of a source, and nothing past them.
class FirstLines : public LineSource {
 public:
  FirstLines(LineSource& source, int count) : source_(source), left_(count) {}
  bool next_line(std::span<char>& line) override { return left_-- > 0 && source_.next_line(line); }

 private:
  LineSource& source_;
  int left_;
};

// A file past 4 GiB opens with its whole size, and its first lines read and convert as any others,
// on a system of 32-bit offsets too. The file is sparse: a few lines, then a hole that is never
// read.
TEST(FileTest, OpensAFilePastFourGibibytesAndConvertsItsFirstLines) {
  struct Removed {
    std::filesystem::path path;
    ~Removed() {
      std::error_code ignored;
      std::filesystem::remove(path, ignored);
    }
  } file{std::filesystem::temp_directory_path() /
         ("vorpex_large_file_test_" + std::to_string(::getpid()))};
  constexpr std::int64_t kSize = std::int64_t{5} << 30;
  const std::string head = "10 print  \"hi\"\r\n20   goto 10\n";
  {
    const File made(::open(file.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    ASSERT_TRUE(made.is_open()) << std::strerror(errno);
    ASSERT_EQ(::write(made.fd(), head.data(), head.size()), static_cast<ssize_t>(head.size()));
    if (::ftruncate(made.fd(), kSize) != 0) {
      GTEST_SKIP() << "no file of 5 GiB on " << file.path << ": " << std::strerror(errno);
    }
  }
  const OpenResult opened = open_for_reading(file.path.string());
  ASSERT_TRUE(opened.file.is_open()) << std::strerror(opened.error);
  EXPECT_EQ(opened.size, kSize);
  TextReader reader(opened.file.fd());
  FirstLines first(reader, 2);
  testing::StringSink output;
  LineProcessor processor(output);
  const ProcessResult result = processor.process_input(first);
  EXPECT_EQ(result.outcome, Outcome::Done);
  EXPECT_EQ(result.line_number, 2);
  EXPECT_EQ(output.text, "10 PRINT \"hi\"\r\n20 GOTO 10\r\n");
  EXPECT_FALSE(reader.failed());
}
#endif

}  // namespace
}  // namespace vorpex::platform

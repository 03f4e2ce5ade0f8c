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
#include <fstream>
#include <iterator>
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

// A regular file is replaced through a temporary beside it; a symbolic link and a file with another
// hard link are written in place (no temporary), so that the link and the other name keep seeing
// the file.
TEST(FileTest, ReplacementOnlyForAFileWithOneName) {
  namespace fs = std::filesystem;
  const fs::path dir =
      fs::temp_directory_path() / ("vorpex_replace_test_" + std::to_string(::getpid()));
  fs::create_directory(dir);
  const std::string file = (dir / "out.bas").string();
  std::ofstream(file, std::ios::binary) << "old\n";
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink("out.bas", dir / "link.bas");
  {
    File open(::open(file.c_str(), O_WRONLY));
    OpenResult through_link = open_replacement((dir / "link.bas").string(), open);
    EXPECT_FALSE(through_link.file.is_open());
    fs::create_hard_link(file, dir / "hard.bas");
    EXPECT_FALSE(open_replacement(file, open).file.is_open());
    fs::remove(dir / "hard.bas");
    OpenResult replacement = open_replacement(file, open);
    ASSERT_TRUE(replacement.file.is_open());
    EXPECT_EQ(fs::path(replacement.created).parent_path(), dir);
    EXPECT_EQ(fs::status(replacement.created).permissions(), fs::status(file).permissions());
    ASSERT_EQ(::write(replacement.file.fd(), "new\n", 4), 4);
    EXPECT_EQ(replacement.file.close(), 0);
    EXPECT_EQ(fs::file_size(file), 4u);
    EXPECT_EQ(replace_file(replacement.created, file), 0);
    EXPECT_FALSE(fs::exists(replacement.created));
  }
  EXPECT_EQ(fs::read_symlink(dir / "link.bas"), "out.bas");
  EXPECT_EQ(fs::file_size(file), 4u);
  EXPECT_EQ(fs::status(file).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
  fs::remove_all(dir);
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

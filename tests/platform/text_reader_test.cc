#include "platform/text_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace vorpex::platform {
namespace {

// Reads all lines of `content` through a TextReader with the given block size and vector level;
// with `runs`, as the line processor reads, the runs of whole lines first (each line taken without
// its CR bytes, as the processor takes it), then what is left line by line.
std::vector<std::string> read_lines(const std::string& content, std::size_t block_size,
                                    simd::Level level, bool runs = false) {
  std::FILE* file = std::tmpfile();
  EXPECT_NE(file, nullptr);
  EXPECT_EQ(std::fwrite(content.data(), 1, content.size(), file), content.size());
  std::fflush(file);
  std::rewind(file);
  TextReader reader(fileno(file), block_size, level);
  std::vector<std::string> lines;
  std::span<char> line;
  for (;;) {
    if (runs && reader.next_lines(line)) {
      EXPECT_EQ(line.back(), '\n');
      std::string_view rest(line.data(), line.size());
      for (std::size_t lf = rest.find('\n'); lf != rest.npos; lf = rest.find('\n')) {
        std::string text(rest.substr(0, lf));
        std::erase(text, '\r');
        lines.push_back(text);
        rest.remove_prefix(lf + 1);
      }
      continue;
    }
    if (!reader.next_line(line)) break;
    EXPECT_EQ(line.data()[line.size()], '\0');
    lines.emplace_back(line.data(), line.size());
  }
  EXPECT_FALSE(reader.failed());
  std::fclose(file);
  return lines;
}

struct Case {
  std::string content;
  std::vector<std::string> lines;
};

TEST(TextReaderTest, ReadsLinesInTextMode) {
  const std::string long_line(10000, 'x');
  std::string many_lines;
  std::vector<std::string> split_many;
  for (std::size_t n = 0; n < 140; n += 3) {
    split_many.push_back(std::string(n, 'x'));
    many_lines += split_many.back() + (n % 2 == 0 ? "\n" : "\r\n");
  }
  const std::vector<Case> cases = {
      {"", {}},
      {"A\r\nB\r\n", {"A", "B"}},
      {"A\nB", {"A", "B"}},
      {"A\rB\r\r\n\r", {"AB", ""}},
      {"\n\n", {"", ""}},
      {"A\x1a"
       "B\nC",
       {"A"}},
      {"X\n\x1a\n", {"X"}},
      {"\x1a", {}},
      {std::string("A\0B\nC", 5), {std::string("A\0B", 3), "C"}},
      {long_line + "\r\n" + long_line, {long_line, long_line}},
      {"a\n" + long_line + "\nb\n", {"a", long_line, "b"}},
      // The last line end of a run, 64 bytes a step backwards from every offset of a step.
      {long_line + "\n" + std::string(100, 'y') + "\n" + long_line,
       {long_line, std::string(100, 'y'), long_line}},
      {std::string(1, '\n').append(64, 'z').append(1, '\n').append(127, 'w'),
       {"", std::string(64, 'z'), std::string(127, 'w')}},
      // Line ends on both sides of each step of 64 bytes in which they are marked.
      {many_lines, split_many},
      {std::string(63, 'a') + "\r\n" + std::string(62, 'b') + "\r\r\n\rc\r\n",
       {std::string(63, 'a'), std::string(62, 'b'), "c"}},
  };
  for (const simd::Level level : simd::kLevels) {
    if (!simd::runs(level)) continue;
    for (std::size_t block : {1, 2, 3, 7, 64, 100, 128 * 1024}) {
      for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << simd::name(level) << ", block " << block << ": "
                                          << c.content.substr(0, 20));
        EXPECT_EQ(read_lines(c.content, block, level), c.lines);
        EXPECT_EQ(read_lines(c.content, block, level, true), c.lines);
      }
    }
  }
}

TEST(TextReaderTest, ReportsReadErrors) {
#ifdef _WIN32
  const int fd = ::_open("NUL", _O_WRONLY);  // reading what is open only for writing fails
  const int expected = EACCES;
#else
  const int fd = ::open("/", O_RDONLY);  // reading a directory fails
  const int expected = EISDIR;
#endif
  ASSERT_GE(fd, 0);
  TextReader reader(fd);
  std::span<char> line;
  EXPECT_FALSE(reader.next_line(line));
  EXPECT_TRUE(reader.failed());
  EXPECT_EQ(reader.error(), expected);
  EXPECT_FALSE(reader.next_line(line));
#ifdef _WIN32
  ::_close(fd);
#else
  ::close(fd);
#endif
}

}  // namespace
}  // namespace vorpex::platform

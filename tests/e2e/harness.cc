#include "harness.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>
#include <stdexcept>
#include <system_error>

namespace vorpex_e2e {
namespace {

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

std::string drain(int fd) {
  std::string bytes;
  char chunk[4096];
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    check(n >= 0, "read");
    if (n == 0) return bytes;
    bytes.append(chunk, static_cast<size_t>(n));
  }
}

}  // namespace

Sandbox::Sandbox() {
  std::string name = (std::filesystem::temp_directory_path() / "vorpex-e2e-XXXXXX").string();
  check(::mkdtemp(name.data()) != nullptr, "mkdtemp");
  dir_ = name;
}

Sandbox::~Sandbox() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

void Sandbox::write(const std::filesystem::path& name, const std::string& bytes) const {
  std::filesystem::path path = dir_ / name;
  std::filesystem::create_directories(path.parent_path());
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  check(file.good(), "write");
}

std::optional<std::string> Sandbox::read(const std::filesystem::path& name) const {
  std::ifstream file(dir_ / name, std::ios::binary);
  if (!file) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(file), {});
}

RunResult Sandbox::run(const std::vector<std::string>& args, const std::filesystem::path& output,
                       const std::filesystem::path& standard_input) const {
  const std::string input_path =
      standard_input.empty() ? std::string("/dev/null") : (dir_ / standard_input).string();
  std::vector<std::string> words{VORPEX_BINARY};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);

  int out[2];
  check(::pipe(out) == 0, "pipe");
  std::FILE* err = std::tmpfile();
  check(err != nullptr, "tmpfile");
  pid_t pid = ::fork();
  check(pid >= 0, "fork");
  if (pid == 0) {
    int null = ::open(input_path.c_str(), O_RDONLY);
    if (null < 0 || ::dup2(null, 0) < 0 || ::dup2(out[1], 1) < 0 || ::dup2(::fileno(err), 2) < 0 ||
        ::chdir(dir_.c_str()) != 0) {
      ::_exit(126);
    }
    ::close(out[0]);
    ::close(out[1]);
    ::alarm(30);  // a hung run ends with SIGALRM instead of blocking the suite
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  RunResult result;
  result.console = drain(out[0]);
  ::close(out[0]);
  int wstatus = 0;
  struct rusage usage {};
  while (::wait4(pid, &wstatus, 0, &usage) < 0)
    check(errno == EINTR, "wait4");
  result.max_rss_kib = usage.ru_maxrss;
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  check(::lseek(::fileno(err), 0, SEEK_SET) == 0, "lseek");
  result.errors = drain(::fileno(err));
  std::fclose(err);
  result.output = read(output);
  return result;
}

RunResult convert(const std::string& input) {
  Sandbox sandbox;
  sandbox.write("in.bas", input);
  return sandbox.run({"-i", "in.bas", "-o", "out.bas"});
}

void expect_conversion(const Conversion& c) {
  RunResult r = convert(c.input);
  std::string console = kConvertHead;
  for (int i = 0; i < c.quote_warnings; ++i)
    console += "\r\r\nUNBALANCED QUOTE!\r\r\n";
  if (!c.stops) console += kSuccess;
  EXPECT_EQ(r.output, c.output);
  EXPECT_EQ(r.console, console);
  EXPECT_EQ(r.status, c.stops ? 1 : 0);
  expect_well_formed_errors(r.errors);
}

void expect_well_formed_errors(const std::string& errors) {
  // The regular expression of VS Code's $gcc problem matcher; other lines name the program.
  static const std::regex kGcc(R"(^(.*?):(\d+):(\d*):?\s+(?:fatal\s+)?(warning|error):\s+(.*)$)");
  std::size_t start = 0;
  while (start < errors.size()) {
    const std::size_t end = errors.find('\n', start);
    ASSERT_NE(end, std::string::npos) << "standard error ends inside a line";
    const std::string line = errors.substr(start, end - start);
    EXPECT_TRUE(line.starts_with("vorpex: ") || std::regex_match(line, kGcc)) << line;
    start = end + 1;
  }
}

std::string repeat(const std::string& piece, int times) {
  std::string text;
  for (int i = 0; i < times; ++i)
    text += piece;
  return text;
}

std::string unknown_error(int line) {
  return "\r\nUNKNOWN ERROR! LINE: " + std::to_string(line) + "\r\n";
}

}  // namespace vorpex_e2e

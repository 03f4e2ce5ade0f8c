#include "harness.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

#include <psapi.h>

#include <thread>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <regex>
#include <stdexcept>
#include <system_error>

namespace vorpex_e2e {
namespace {

namespace fs = std::filesystem;

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

fs::path from_utf8(const std::string& name) {
  return fs::path(std::u8string(name.begin(), name.end()));
}

#ifdef _WIN32

// One argument as CommandLineToArgvW splits it back: quoted when it is empty or holds a blank,
// TAB or quote, with backslashes doubled before a quote and before the closing quote.
std::wstring quote(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(2 * backslashes, L'\\');
  return quoted + L"\"";
}

struct Handle {
  HANDLE h = INVALID_HANDLE_VALUE;
  ~Handle() {
    if (h != INVALID_HANDLE_VALUE && h != nullptr) ::CloseHandle(h);
  }
};

std::string drain(HANDLE pipe) {
  std::string bytes;
  char chunk[4096];
  DWORD n = 0;
  while (::ReadFile(pipe, chunk, sizeof chunk, &n, nullptr) && n > 0)
    bytes.append(chunk, n);
  return bytes;
}

HANDLE inheritable(const wchar_t* name, DWORD access, DWORD creation, DWORD flags) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return ::CreateFileW(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       &inherit, creation, flags, nullptr);
}

// Starts vorpex with the given standard handles (any may be null: closed) in `dir`.
PROCESS_INFORMATION start_process(const fs::path& dir, const std::vector<std::string>& args,
                                  HANDLE in, HANDLE out, HANDLE err) {
  std::wstring program = fs::path(VORPEX_BINARY).make_preferred().wstring();
  std::wstring command = quote(program);
  for (const std::string& arg : args)
    command += L" " + quote(from_utf8(arg).wstring());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  // Wine now and then fails to start a process with an internal error: a second try starts it.
  for (int attempt = 1; !::CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, TRUE,
                                          0, nullptr, dir.wstring().c_str(), &startup, &process);
       ++attempt) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_INTERNAL_ERROR || attempt == 3) {
      throw std::runtime_error("CreateProcessW: error " + std::to_string(error));
    }
    ::Sleep(100);
  }
  ::CloseHandle(process.hThread);
  return process;
}

// Whether a file with the read-only attribute is refused for writing: wine run by root maps the
// attribute to a file mode, which does not restrict root.
bool read_only_attribute_holds() {
  const fs::path probe = fs::temp_directory_path() / "vorpex-e2e-read-only-probe";
  std::ofstream(probe).put('x');
  ::SetFileAttributesW(probe.c_str(), FILE_ATTRIBUTE_READONLY);
  const HANDLE handle =
      ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
  ::SetFileAttributesW(probe.c_str(), FILE_ATTRIBUTE_NORMAL);
  ::DeleteFileW(probe.c_str());
  return handle == INVALID_HANDLE_VALUE;
}

#else

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

char** argv_of(std::vector<std::string>& words, std::vector<char*>& argv) {
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  return argv.data();
}

#endif

// A line that editors read (FILE:LINE:COLUMN: error: ..., matched by the regular expression of
// VS Code's $gcc problem matcher, with the GNU "note" beside "warning" and "error") or one that
// names the program.
bool diagnostic_line(const std::string& line) {
  static const std::regex kGcc(
      R"(^(.*?):(\d+):(\d*):?\s+(?:fatal\s+)?(warning|error|note):\s+(.*)$)");
  return line.starts_with("vorpex: ") || std::regex_match(line, kGcc);
}

}  // namespace

Sandbox::Sandbox() {
  std::random_device random;
  for (int attempt = 0; dir_.empty(); ++attempt) {
    check(attempt < 100, "create a temporary directory");
    fs::path dir = fs::temp_directory_path() / ("vorpex-e2e-" + std::to_string(random()));
    if (fs::create_directory(dir)) dir_ = dir;
  }
}

Sandbox::~Sandbox() {
  std::error_code ignored;
  fs::remove_all(dir_, ignored);
}

fs::path Sandbox::path(const std::string& name) const {
  return dir_ / from_utf8(name);
}

void Sandbox::write(const std::string& name, const std::string& bytes) const {
  const fs::path file_path = path(name);
  fs::create_directories(file_path.parent_path());
  std::ofstream file(file_path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  check(file.good(), "write");
}

std::optional<std::string> Sandbox::read(const std::string& name) const {
  std::ifstream file(path(name), std::ios::binary);
  if (!file) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(file), {});
}

bool Sandbox::symlink(const std::string& target, const std::string& name) const {
  std::error_code error;
  fs::create_symlink(from_utf8(target), path(name), error);
  return !error;
}

#ifdef _WIN32

RunResult Sandbox::run(const std::vector<std::string>& args, const std::string& output,
                       const std::string& standard_input) const {
  Handle in{inheritable(standard_input.empty() ? L"NUL" : path(standard_input).c_str(),
                        GENERIC_READ, OPEN_EXISTING, 0)};
  const fs::path errors_path = fs::temp_directory_path() / (dir_.filename().wstring() + L".err");
  Handle err{inheritable(errors_path.wstring().c_str(), GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE)};
  check(in.h != INVALID_HANDLE_VALUE && err.h != INVALID_HANDLE_VALUE, "CreateFileW");
  Handle read_end;
  Handle write_end;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  check(::CreatePipe(&read_end.h, &write_end.h, &inherit, 0), "CreatePipe");
  ::SetHandleInformation(read_end.h, HANDLE_FLAG_INHERIT, 0);

  const PROCESS_INFORMATION process = start_process(dir_, args, in.h, write_end.h, err.h);
  Handle child{process.hProcess};
  ::CloseHandle(write_end.h);
  write_end.h = INVALID_HANDLE_VALUE;
  // A hung run is ended after 30 s instead of blocking the suite.
  std::thread watchdog([&] {
    if (::WaitForSingleObject(child.h, 30000) == WAIT_TIMEOUT) ::TerminateProcess(child.h, 142);
  });
  RunResult result;
  result.console = drain(read_end.h);
  watchdog.join();
  DWORD code = 0;
  ::GetExitCodeProcess(child.h, &code);
  result.status = static_cast<int>(code);
  PROCESS_MEMORY_COUNTERS memory{};
  if (::GetProcessMemoryInfo(child.h, &memory, sizeof memory)) {
    result.max_rss_kib = static_cast<long>(memory.PeakWorkingSetSize / 1024);
  }
  ::SetFilePointer(err.h, 0, nullptr, FILE_BEGIN);
  // Windows tools end their messages on standard error in CR LF; each diagnostic must, and the
  // cases then compare the same text as on other systems. (With `-o -` the console's own lines
  // share standard error and keep their bytes.)
  const std::string errors = drain(err.h);
  for (std::size_t start = 0; start < errors.size();) {
    std::size_t end = errors.find('\n', start);
    end = end == std::string::npos ? errors.size() : end + 1;
    std::string line = errors.substr(start, end - start);
    if (line.ends_with("\r\n") && diagnostic_line(line.substr(0, line.size() - 2))) {
      line.erase(line.size() - 2, 1);
    } else if (line.ends_with('\n')) {
      EXPECT_FALSE(diagnostic_line(line.substr(0, line.size() - 1)))
          << "a diagnostic without CR LF: " << line;
    }
    result.errors += line;
    start = end;
  }
  result.output = read(output);
  return result;
}

Child::Child(const Sandbox& sandbox, const std::vector<std::string>& args,
             bool close_input_and_output, const std::string& standard_output) {
  Handle null{inheritable(L"NUL", GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING, 0)};
  Handle out{standard_output.empty() ? INVALID_HANDLE_VALUE
                                     : inheritable(from_utf8(standard_output).c_str(),
                                                   GENERIC_WRITE, OPEN_EXISTING, 0)};
  check(null.h != INVALID_HANDLE_VALUE, "CreateFileW");
  HANDLE in = close_input_and_output ? nullptr : null.h;
  HANDLE console = close_input_and_output          ? nullptr
                   : out.h != INVALID_HANDLE_VALUE ? out.h
                                                   : null.h;
  id_ =
      reinterpret_cast<long long>(start_process(sandbox.dir(), args, in, console, null.h).hProcess);
}

void Child::kill() {
  if (status_ < 0) ::TerminateProcess(reinterpret_cast<HANDLE>(id_), kKilledStatus);
}

int Child::wait() {
  if (status_ >= 0) return status_;
  const HANDLE process = reinterpret_cast<HANDLE>(id_);
  DWORD code = 0;
  if (::WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0 &&
      ::GetExitCodeProcess(process, &code)) {
    status_ = static_cast<int>(code);
  }
  ::CloseHandle(process);
  return status_;
}

#else

RunResult Sandbox::run(const std::vector<std::string>& args, const std::string& output,
                       const std::string& standard_input) const {
  const std::string input_path =
      standard_input.empty() ? std::string("/dev/null") : path(standard_input).string();
  std::vector<std::string> words{VORPEX_BINARY};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  argv_of(words, argv);

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
#ifdef __APPLE__
  result.max_rss_kib = usage.ru_maxrss / 1024;  // bytes there
#else
  result.max_rss_kib = usage.ru_maxrss;
#endif
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  check(::lseek(::fileno(err), 0, SEEK_SET) == 0, "lseek");
  result.errors = drain(::fileno(err));
  std::fclose(err);
  result.output = read(output);
  return result;
}

Child::Child(const Sandbox& sandbox, const std::vector<std::string>& args,
             bool close_input_and_output, const std::string& standard_output) {
  std::vector<std::string> words{VORPEX_BINARY};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  argv_of(words, argv);
  const pid_t pid = ::fork();
  check(pid >= 0, "fork");
  if (pid == 0) {
    const int null = ::open("/dev/null", O_RDWR);
    if (null < 0 || ::dup2(null, 0) < 0 || ::dup2(null, 1) < 0 || ::dup2(null, 2) < 0 ||
        ::chdir(sandbox.dir().c_str()) != 0) {
      ::_exit(126);
    }
    if (null > 2) ::close(null);
    int pipe_ends[2];
    if (standard_output == kClosedPipe) {
      if (::pipe(pipe_ends) != 0 || ::close(pipe_ends[0]) != 0 || ::dup2(pipe_ends[1], 1) < 0) {
        ::_exit(126);
      }
      ::close(pipe_ends[1]);
    } else if (!standard_output.empty()) {
      const int out = ::open(standard_output.c_str(), O_WRONLY);
      if (out < 0 || ::dup2(out, 1) < 0) ::_exit(126);
      if (out > 2) ::close(out);
    }
    if (close_input_and_output) {
      ::close(0);
      ::close(1);
    }
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  id_ = pid;
}

void Child::kill() {
  if (status_ < 0) ::kill(static_cast<pid_t>(id_), SIGKILL);
}

int Child::wait() {
  if (status_ >= 0) return status_;
  int wstatus = 0;
  while (::waitpid(static_cast<pid_t>(id_), &wstatus, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  status_ = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  return status_;
}

#endif

Child::~Child() {
  kill();
  wait();
}

bool under_wine() {
#ifdef _WIN32
  return ::GetProcAddress(::GetModuleHandleW(L"ntdll"), "wine_get_version") != nullptr;
#else
  return false;
#endif
}

std::optional<std::string> missing(Needs needs, bool symlinks_made) {
#ifdef _WIN32
  static const bool root = !read_only_attribute_holds();
#else
  const bool root = ::geteuid() == 0;
#endif
  switch (needs) {
    case Needs::nothing:
      return std::nullopt;
    case Needs::symlinks:
      if (symlinks_made) return std::nullopt;
      return "symbolic links cannot be made here (wine, or Windows without the privilege)";
    case Needs::posix_files:
#ifdef _WIN32
      return "Windows has no /dev/full and no /proc";
#else
      return std::nullopt;
#endif
    case Needs::read_only_files:
#ifdef _WIN32
      if (root) return "the read-only attribute does not hold here (wine run by root)";
#else
      if (root) return "file modes do not restrict root";
#endif
      return std::nullopt;
    case Needs::read_only_dirs:
#ifdef _WIN32
      return "a folder's read-only attribute does not keep files from being made in it";
#else
      if (root) return "file modes do not restrict root";
      return std::nullopt;
#endif
  }
  return std::nullopt;
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
  std::size_t start = 0;
  while (start < errors.size()) {
    const std::size_t end = errors.find('\n', start);
    ASSERT_NE(end, std::string::npos) << "standard error ends inside a line";
    const std::string line = errors.substr(start, end - start);
    EXPECT_TRUE(diagnostic_line(line)) << line;
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

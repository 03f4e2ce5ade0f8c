// The Windows process launcher of the harness.
#include <windows.h>

#include <psapi.h>

#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>
#include <thread>

#include "harness.h"
#include "harness_internal.h"

namespace vorpex_e2e {
namespace {

namespace fs = std::filesystem;

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

// Standard error with each diagnostic's CR LF as LF; the diagnostics that ended in a bare LF go to
// `without_cr`.
std::string native_line_ends(const std::string& errors, std::vector<std::string>& without_cr) {
  std::string text;
  for (std::size_t start = 0; start < errors.size();) {
    std::size_t end = errors.find('\n', start);
    end = end == std::string::npos ? errors.size() : end + 1;
    std::string line = errors.substr(start, end - start);
    if (line.ends_with("\r\n") && diagnostic_line(line.substr(0, line.size() - 2))) {
      line.erase(line.size() - 2, 1);
    } else if (line.ends_with('\n') && diagnostic_line(line.substr(0, line.size() - 1))) {
      without_cr.push_back(line);
    }
    text += line;
    start = end;
  }
  return text;
}

}  // namespace

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
  std::vector<std::string> without_cr;
  result.errors = native_line_ends(drain(err.h), without_cr);
  result.output = read(output);
  for (const std::string& line : without_cr)
    ADD_FAILURE() << "a diagnostic without CR LF: " << line;
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
  process_ = start_process(sandbox.dir(), args, in, console, null.h).hProcess;
}

void Child::kill() {
  if (status_ < 0) ::TerminateProcess(process_, kKilledStatus);
}

int Child::wait() {
  if (status_ >= 0) return status_;
  const HANDLE process = process_;
  DWORD code = 0;
  if (::WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0 &&
      ::GetExitCodeProcess(process, &code)) {
    status_ = static_cast<int>(code);
  }
  ::CloseHandle(process);
  return status_;
}

bool under_wine() {
  return ::GetProcAddress(::GetModuleHandleW(L"ntdll"), "wine_get_version") != nullptr;
}

std::optional<std::string> missing(Needs needs, bool symlinks_made) {
  static const bool root = !read_only_attribute_holds();
  switch (needs) {
    case Needs::nothing:
      return std::nullopt;
    case Needs::symlinks:
      if (symlinks_made) return std::nullopt;
      return "symbolic links cannot be made here (wine, or Windows without the privilege)";
    case Needs::posix_files:
      return "Windows has no /dev/full and no /proc";
    case Needs::read_only_files:
      if (root) return "the read-only attribute does not hold here (wine run by root)";
      return std::nullopt;
    case Needs::read_only_dirs:
      return "a folder's read-only attribute does not keep files from being made in it";
  }
  return std::nullopt;
}

}  // namespace vorpex_e2e

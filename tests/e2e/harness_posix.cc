// The POSIX process launcher of the harness.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "harness.h"
#include "harness_internal.h"

namespace vorpex_e2e {
namespace {

namespace fs = std::filesystem;

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

// The highest descriptor number the harness may hold, read before fork(): the child may not
// allocate.
int descriptor_limit() {
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
      limit.rlim_cur > 65536) {
    return 65536;
  }
  return static_cast<int>(limit.rlim_cur);
}

// In the child, before exec: closes every descriptor above standard error, so that vorpex holds
// none of the harness's (its pipes, its temporary files, the test framework's own).
void close_harness_descriptors(int limit) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  if (::close_range(3, ~0U, 0) == 0) return;
#endif
  for (int fd = 3; fd < limit; ++fd)
    ::close(fd);
}

}  // namespace

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
  const int limit = descriptor_limit();
  pid_t pid = ::fork();
  check(pid >= 0, "fork");
  if (pid == 0) {
    int null = ::open(input_path.c_str(), O_RDONLY);
    if (null < 0 || ::dup2(null, 0) < 0 || ::dup2(out[1], 1) < 0 || ::dup2(::fileno(err), 2) < 0 ||
        ::chdir(dir_.c_str()) != 0) {
      ::_exit(126);
    }
    close_harness_descriptors(limit);
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
  const int limit = descriptor_limit();
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
    close_harness_descriptors(limit);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  pid_ = pid;
}

void Child::kill() {
  if (status_ < 0) ::kill(pid_, SIGKILL);
}

int Child::wait() {
  if (status_ >= 0) return status_;
  int wstatus = 0;
  while (::waitpid(pid_, &wstatus, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  status_ = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  return status_;
}

bool under_wine() {
  return false;
}

std::optional<std::string> missing(Needs needs, bool symlinks_made) {
  const bool root = ::geteuid() == 0;
  switch (needs) {
    case Needs::nothing:
    case Needs::posix_files:
      return std::nullopt;
    case Needs::symlinks:
      if (symlinks_made) return std::nullopt;
      return "symbolic links cannot be made here (wine, or Windows without the privilege)";
    case Needs::read_only_files:
    case Needs::read_only_dirs:
      if (root) return "file modes do not restrict root";
      return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace vorpex_e2e

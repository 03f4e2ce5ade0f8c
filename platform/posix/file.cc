#include "platform/file.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace vorpex::platform {

void give_back_large_blocks() {
#if defined(__GLIBC__)
  // glibc raises the size from which blocks are mapped, and given back when freed, to the
  // largest block freed so far (up to 32 MiB): fixed at 1 MiB instead.
  ::mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
}

bool guard_standard_descriptors() {
  // A console that is a closed pipe fails the write (EPIPE) instead of ending the process before
  // the output file is written.
  ::signal(SIGPIPE, SIG_IGN);
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // open() takes the lowest free number, which is `fd`.
    const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened != fd) {
      if (opened >= 0) ::close(opened);
      return false;
    }
  }
  return true;
}

void set_binary_standard_streams() {}

int File::close() {
  if (fd_ < 0) return 0;
  const int result = ::close(release());
  // After an interrupted close the descriptor is gone on this platform: no retry.
  return result == 0 || errno == EINTR ? 0 : errno;
}

bool FdSink::write(std::string_view bytes) {
  if (error_ != 0) return false;
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // Nothing written for a non-empty buffer would only repeat: take it as a full device.
      error_ = n < 0 ? errno : ENOSPC;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

std::ptrdiff_t read_some(int fd, std::span<char> buffer, int& error) {
  ssize_t n;
  do {
    n = ::read(fd, buffer.data(), buffer.size());
  } while (n < 0 && errno == EINTR);
  if (n < 0) error = errno;
  return n;
}

bool input_waiting(int fd) {
  pollfd request{fd, POLLIN, 0};
  int ready;
  do {
    ready = ::poll(&request, 1, 0);
  } while (ready < 0 && errno == EINTR);
  return ready > 0 && (request.revents & POLLIN) != 0;
}

OpenResult open_for_reading(const std::string& path) {
  OpenResult result;
  result.file = File(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!result.file.is_open()) {
    result.error = errno;
    return result;
  }
  struct stat st {};
  if (::fstat(result.file.fd(), &st) != 0) return result;
  if (S_ISDIR(st.st_mode)) {
    result.file.close();
    result.error = EISDIR;
  } else if (S_ISREG(st.st_mode)) {
    result.size = st.st_size;
  }
  return result;
}

namespace {

// Opens `path` for writing, creating the file when it is missing; `created` gets the name of a
// file that this call made. Only an open with O_EXCL counts as making one: no other program can
// have made the file in between. A symbolic link to a missing file fails O_EXCL (the link itself
// exists), so the links are followed here, each relative to its own directory, and O_EXCL makes
// the file that the last one names; removing that file later leaves the link as it was.
int open_or_create(const std::string& path, std::string& created) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd >= 0 || errno != ENOENT) return fd;
  std::filesystem::path target = path;
  for (int links = 0; links <= 40; ++links) {  // as many as the system follows itself
    fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      created = target.string();
      return fd;
    }
    if (errno != EEXIST) return fd;
    std::error_code error;
    const std::filesystem::path next = std::filesystem::read_symlink(target, error);
    // Not a link: another program made the file in between, and it is opened as it is.
    if (error) return ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
    target = target.parent_path() / next;  // an absolute `next` replaces the whole
  }
  errno = ELOOP;
  return -1;
}

}  // namespace

bool is_kept_file(int fd, std::span<const int> keep, int& error) {
  struct stat out {};
  if (::fstat(fd, &out) != 0) {
    error = errno;
    return false;
  }
  if (!S_ISREG(out.st_mode)) return false;  // a device such as /dev/null has nothing to lose
  for (int other : keep) {
    struct stat in {};
    if (::fstat(other, &in) != 0) {
      error = errno;
      return false;
    }
    if (out.st_dev == in.st_dev && out.st_ino == in.st_ino) return true;
  }
  return false;
}

OpenResult open_for_writing(const std::string& path, std::span<const int> keep) {
  OpenResult result;
  result.file = File(open_or_create(path, result.created));
  if (!result.file.is_open()) {
    result.error = errno;
    return result;
  }
  result.same_file = is_kept_file(result.file.fd(), keep, result.error);
  give_up_kept_file(result);
  return result;
}

void remove_file(const std::string& path) {
  ::unlink(path.c_str());
}

OpenResult open_replacement(const std::string& path, const File& file) {
  OpenResult result;
  struct stat out {};
  struct stat named {};
  if (::fstat(file.fd(), &out) != 0 || ::lstat(path.c_str(), &named) != 0) return result;
  // A link is written through, as are other names of the same file: replacing the name would
  // part it from them.
  if (!S_ISREG(named.st_mode) || out.st_dev != named.st_dev || out.st_ino != named.st_ino ||
      out.st_nlink != 1) {
    return result;
  }
  const std::size_t slash = path.rfind('/');
  const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
  std::string name = path.substr(0, base) + "." + path.substr(base) + ".XXXXXX";
  File temporary(::mkostemp(name.data(), O_CLOEXEC));
  if (!temporary.is_open()) return result;
  // The set-user and set-group bits are not carried over: writing the file itself clears them.
  // A new file's group may be the directory's rather than the process's.
  struct stat made {};
  if (::fstat(temporary.fd(), &made) != 0 ||
      ((made.st_uid != out.st_uid || made.st_gid != out.st_gid) &&
       ::fchown(temporary.fd(), out.st_uid, out.st_gid) != 0) ||
      ::fchmod(temporary.fd(), out.st_mode & 01777) != 0) {
    temporary.close();
    ::unlink(name.c_str());
    return result;
  }
  result.file = std::move(temporary);
  result.created = std::move(name);
  return result;
}

int replace_file(const std::string& temporary, const std::string& path) {
  return std::rename(temporary.c_str(), path.c_str()) == 0 ? 0 : errno;
}

int empty_file(const File& file) {
  struct stat out {};
  if (::fstat(file.fd(), &out) != 0) return errno;
  if (S_ISREG(out.st_mode) && ::ftruncate(file.fd(), 0) != 0) return errno;
  return 0;
}

}  // namespace vorpex::platform

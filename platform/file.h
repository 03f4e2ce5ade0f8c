#pragma once

#include <span>
#include <string>
#include <string_view>

#include "engine/byte_sink.h"

namespace vorpex::platform {

// Opens /dev/null on any of the standard descriptors 0, 1 and 2 that is closed, so that a file
// opened later never takes one of their numbers: the console would write into it. Returns false
// when a closed one could not be given /dev/null.
bool guard_standard_descriptors();

// A file descriptor owned for its lifetime; closed by close() or the destructor.
class File {
 public:
  File() = default;
  explicit File(int fd) : fd_(fd) {}
  File(File&& other) noexcept : fd_(other.release()) {}
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() { close(); }

  int fd() const { return fd_; }
  bool is_open() const { return fd_ >= 0; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes the descriptor; returns 0, or the error number when closing reported a failure.
  int close();

 private:
  int fd_ = -1;
};

// Writes every byte to a descriptor, retrying short and interrupted writes; keeps the first error.
class FdSink : public ByteSink {
 public:
  explicit FdSink(int fd) : fd_(fd) {}
  bool write(std::string_view bytes) override;
  int error() const { return error_; }

 private:
  int fd_;
  int error_ = 0;
};

// The outcome of opening a file: the open descriptor, or the error number that the failure left.
struct OpenResult {
  File file;
  int error = 0;
};

// Opens an existing file for reading. A directory is refused with EISDIR.
OpenResult open_for_reading(const std::string& path);

// Opens a file for writing in binary mode, creating it when missing. A regular file is truncated
// only once it is known to be none of the files open on `keep` (the same device and inode), so
// those are never harmed: when it is one of them, `same_file` is set and no file is returned.
// Other files (devices, pipes) are written as they are.
OpenResult open_for_writing(const std::string& path, std::span<const int> keep, bool& same_file);

// A standard stream (0 for input, 1 for output) as a file of the run, for the path "-". The
// output is refused like a file when it is one of the files open on `keep`.
OpenResult open_standard(int fd, std::span<const int> keep, bool& same_file);

}  // namespace vorpex::platform

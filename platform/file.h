#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "engine/byte_sink.h"

namespace vorpex::platform {

// Opens the null device on any of the standard descriptors 0, 1 and 2 that is closed, so that a
// file opened later never takes one of their numbers: the console would write into it. Returns
// false when a closed one could not be given the null device. Writing to a closed pipe then fails
// with an error instead of ending the process. On Windows the console also gets the UTF-8 code
// page for the run, so that file names show as they are.
bool guard_standard_descriptors();

// Puts standard input and output in binary mode, so that their bytes pass unchanged (on Windows a
// descriptor opened in text mode turns LF into CR LF); nothing to do elsewhere.
void set_binary_standard_streams();

// Has the memory of a large block go back to the system as soon as it is freed: the C library
// may otherwise keep it for later blocks, and a process that reads a document of 20 MB once
// would hold that much more for good. For the language server; nothing to do where the C library
// gives such blocks back by itself.
void give_back_large_blocks();

// A file descriptor owned for its lifetime; closed by close() or the destructor. On Windows it is
// a C runtime descriptor over the file's handle.
class File {
 public:
  File() = default;
  explicit File(int fd) : fd_(fd) {}
  File(File&& other) noexcept : fd_(other.release()) {}
  File& operator=(File&& other) noexcept {
    if (this != &other) {
      close();
      fd_ = other.release();
    }
    return *this;
  }
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

// Reads up to `buffer.size()` bytes, retrying interrupted reads. Returns the count, 0 at the end of
// the input, or -1 with the error number in `error`.
std::ptrdiff_t read_some(int fd, std::span<char> buffer, int& error);

// True when a read of `fd` would return at once with bytes that have already arrived (a pipe or a
// terminal with data waiting); false when it would wait, or when that cannot be told.
bool input_waiting(int fd);

// The outcome of opening a file: the open descriptor, or the error number that the failure left.
struct OpenResult {
  File file;
  int error = 0;
  // The file is one of the files open on `keep` (see open_for_writing); no file is returned.
  bool same_file = false;
  // The file that open_for_writing made, by the name that removes it: the path itself, or for a
  // symbolic link to a missing file the file that the link names. Empty when the file was there.
  std::string created;
  // open_for_reading: the size of a regular file when it was opened; -1 for anything else.
  std::int64_t size = -1;
};

// Opens an existing file for reading. A directory is refused with EISDIR. On Windows the file is
// shared for reading and writing, so that opening it again as the output reaches the same-file
// check; reserved device names (other than NUL itself) and names ending in a dot or a blank are
// refused with ENOENT, like any other invalid name.
OpenResult open_for_reading(const std::string& path);

// Opens a file for writing in binary mode, creating it when missing, without emptying it. When it
// is one of the files open on `keep` (the same device and inode; on Windows the same volume and
// file id), `same_file` is set and no file is returned. A file that it made and then cannot return
// (the check failed) is removed again. On Windows the names that open_for_reading refuses are
// refused, and so is a path in the device namespaces (\\.\COM1, \\?\GLOBALROOT\...), with ENOENT.
OpenResult open_for_writing(const std::string& path, std::span<const int> keep);

// Empties a regular file that open_for_writing returned; other files (devices, pipes) are written
// as they are. Returns 0, or the error number of the failure, also when the kind of file cannot be
// told (new text over an old file that was not emptied would keep the old file's tail). A run
// empties its files only once every one of them is open and checked, so that a refusal leaves every
// file as it was.
int empty_file(const File& file);

// Removes the file that `path` names; used with OpenResult::created for a file that the run
// created and then gave up.
void remove_file(const std::string& path);

// Opens a temporary file beside the regular file at `path`, which `file` has open, for a run to
// write instead of it: the file at `path` keeps its bytes until replace_file puts the temporary
// in its place, so that a run that fails leaves it as it was. The temporary gets the file's mode
// (and its owner and group where they differ). `created` is the temporary's name. No file is
// returned, and the file is to be written in place, when `path` is a symbolic link, the file has
// other hard links, it is no regular file, or no temporary with its mode and owner can be made
// beside it (a directory that its user cannot write).
OpenResult open_replacement(const std::string& path, const File& file);

// Puts the temporary `temporary` (from open_replacement, closed) in the place of `path`, in one
// step. Returns 0, or the error number of the failure (the temporary is then still there).
int replace_file(const std::string& temporary, const std::string& path);

// A standard stream (0 for input, 1 for output) as a file of the run, for the path "-". The
// output is refused like a file when it is one of the files open on `keep`.
OpenResult open_standard(int fd, std::span<const int> keep);

// True when `fd` is a file on disk that is one of the files open on `keep` (the same device and
// inode; on Windows the same volume and file id); devices, consoles and pipes have nothing to lose.
// Sets `error` when a file could not be told.
bool is_kept_file(int fd, std::span<const int> keep, int& error);

// Gives up the file that open_for_writing opened when it is a kept one or could not be checked: a
// file that the open made goes again.
void give_up_kept_file(OpenResult& result);

}  // namespace vorpex::platform

#pragma once

// The input file of the engine fuzzers: one memory file, rewritten for every conversion, so that
// the bytes go through the real text-mode reader.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace vorpex::fuzzing {

inline void require_system(bool ok, const char* call) {
  if (ok) return;
  std::fprintf(stderr, "fuzz: %s failed\n", call);
  std::abort();
}

inline int input_fd() {
  static const int fd = memfd_create("fuzz_input", MFD_CLOEXEC);
  require_system(fd >= 0, "memfd_create");
  return fd;
}

// Makes the memory file hold exactly `bytes`, read from its start.
inline void store_input(std::string_view bytes) {
  const int fd = input_fd();
  require_system(ftruncate(fd, 0) == 0, "ftruncate");
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n =
        pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    require_system(n > 0, "pwrite");
    done += static_cast<std::size_t>(n);
  }
  require_system(lseek(fd, 0, SEEK_SET) == 0, "lseek");
}

}  // namespace vorpex::fuzzing

#pragma once

#include <string_view>

namespace vorpex {

// Where the engine's bytes go: the output file, or the console for warnings. The engine does no
// I/O of its own; the front end supplies the sinks.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Writes all of `bytes`; returns false when they could not be written.
  virtual bool write(std::string_view bytes) = 0;
};

}  // namespace vorpex

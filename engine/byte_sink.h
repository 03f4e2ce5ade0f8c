#pragma once

#include <string_view>

namespace vorpex {

// Where the engine's output goes. The engine does no I/O of its own; the front end supplies the
// sink.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Writes all of `bytes`; returns false when they could not be written.
  virtual bool write(std::string_view bytes) = 0;
};

}  // namespace vorpex

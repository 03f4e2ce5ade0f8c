#pragma once

#include <cstddef>
#include <string_view>

#include "engine/byte_sink.h"
#include "engine/memory_line_source.h"

namespace vorpex::bench {

using vorpex::BufferLineSource;
using vorpex::to_text_mode;

// Takes every byte and keeps only their count.
class CountingSink : public ByteSink {
 public:
  bool write(std::string_view bytes) override {
    bytes_ += bytes.size();
    return true;
  }
  std::size_t bytes() const { return bytes_; }

 private:
  std::size_t bytes_ = 0;
};

}  // namespace vorpex::bench

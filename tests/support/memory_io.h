#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/byte_sink.h"
#include "engine/line_source.h"

namespace vorpex::testing {

// Collects everything written to it; can be told to refuse writes.
class StringSink : public ByteSink {
 public:
  bool write(std::string_view bytes) override {
    if (refuse) return false;
    text.append(bytes);
    return true;
  }
  std::string text;
  bool refuse = false;
};

// Serves lines from memory, each in its own NUL-terminated copy.
class VectorLineSource : public LineSource {
 public:
  explicit VectorLineSource(std::vector<std::string> lines) : lines_(std::move(lines)) {}
  bool next_line(std::span<char>& line) override {
    if (next_ >= lines_.size()) return false;
    std::string& text = lines_[next_++];
    line = {text.data(), text.size()};  // std::string keeps a NUL past its end
    return true;
  }

 private:
  std::vector<std::string> lines_;
  std::size_t next_ = 0;
};

}  // namespace vorpex::testing

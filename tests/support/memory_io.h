#pragma once

#include <cstddef>
#include <memory>
#include <optional>
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

// Serves lines from memory as one run of whole lines, in an allocation of its own that ends exactly
// where the padding it promises ends, so that AddressSanitizer reports a read one byte past it.
// The padding holds the bytes of `padding` over and over (zeros when it is empty), or is left
// unset when there is none, for valgrind to report a decision taken on it.
class PaddedLineSource : public LineSource {
 public:
  PaddedLineSource(const std::vector<std::string>& lines, std::optional<std::string> padding) {
    std::string text;
    for (const std::string& line : lines)
      text += line + "\n";
    size_ = text.size();
    buffer_.reset(new char[size_ + kBlockPadding]);
    text.copy(buffer_.get(), size_);
    for (std::size_t k = 0; padding && k < kBlockPadding; ++k)
      buffer_[size_ + k] = padding->empty() ? '\0' : (*padding)[k % padding->size()];
  }
  bool next_lines(std::span<char>& lines) override {
    if (served_ || size_ == 0) return false;
    served_ = true;
    lines = {buffer_.get(), size_};
    return true;
  }
  bool next_line(std::span<char>&) override { return false; }

 private:
  std::unique_ptr<char[]> buffer_;
  std::size_t size_ = 0;
  bool served_ = false;
};

}  // namespace vorpex::testing

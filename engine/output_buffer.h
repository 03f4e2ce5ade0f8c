#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

#include "engine/byte_sink.h"

namespace vorpex {

// Collects output bytes in one fixed buffer and hands them to the sink in large blocks. After the
// sink fails once, further bytes are dropped and failed() stays true.
class OutputBuffer {
 public:
  static constexpr std::size_t kDefaultCapacity = 256 * 1024;

  explicit OutputBuffer(ByteSink& sink, std::size_t capacity = kDefaultCapacity)
      : sink_(sink), data_(std::make_unique<char[]>(capacity)), capacity_(capacity) {}
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;
  ~OutputBuffer() = default;  // the owner flushes; a destructor cannot report a failure

  void put(char c) {
    if (size_ == capacity_) flush();
    data_[size_++] = c;
  }

  void put(std::string_view bytes) {
    if (bytes.size() > capacity_ - size_) {
      flush();
      if (bytes.size() > capacity_) {
        write_through(bytes);
        return;
      }
    }
    std::memcpy(data_.get() + size_, bytes.data(), bytes.size());
    size_ += bytes.size();
  }

  // Hands the buffered bytes to the sink; returns false once any write has failed.
  bool flush() {
    if (size_ > 0) write_through({data_.get(), size_});
    size_ = 0;
    return !failed_;
  }

  bool failed() const { return failed_; }

 private:
  void write_through(std::string_view bytes) {
    if (!failed_ && !sink_.write(bytes)) failed_ = true;
  }

  ByteSink& sink_;
  std::unique_ptr<char[]> data_;
  std::size_t capacity_;
  std::size_t size_ = 0;
  bool failed_ = false;
};

}  // namespace vorpex

#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/byte_sink.h"

namespace vorpex {

// Hands bytes on to a sink until it refuses once; from then on drops them, and says so. A null
// sink takes every byte and keeps none.
class SinkWriter {
 public:
  explicit SinkWriter(ByteSink* sink) : sink_(sink) {}

  // False once any write has failed.
  bool write(std::string_view bytes) {
    if (!bytes.empty() && !failed_ && sink_ != nullptr && !sink_->write(bytes)) failed_ = true;
    return !failed_;
  }
  bool failed() const { return failed_; }
  void set_sink(ByteSink* sink) { sink_ = sink; }

 private:
  ByteSink* sink_;
  bool failed_ = false;
};

// A number in decimal, the one way every message writes one.
class Decimal {
 public:
  explicit Decimal(std::int64_t number)
      : size_(static_cast<std::size_t>(
            std::to_chars(digits_, digits_ + sizeof digits_, number).ptr - digits_)) {}
  std::string_view view() const { return {digits_, size_}; }

 private:
  char digits_[24];  // any 64-bit number
  std::size_t size_;
};

}  // namespace vorpex

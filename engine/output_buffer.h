#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "engine/byte_sink.h"
#include "engine/writer.h"

namespace vorpex {

// Collects output bytes in one buffer and hands them to the sink in large blocks. The buffer grows
// only when more room is reserved at once than it holds beside the bytes it must keep: the rest of
// a line, or a piece of output no longer than a line, besides the output of the line in hand, so
// its size is bounded by the longest line whatever the size of the input. After the sink fails
// once, further bytes are dropped and failed() stays true.
class OutputBuffer {
 public:
  static constexpr std::size_t kDefaultCapacity = 256 * 1024;

  explicit OutputBuffer(ByteSink& sink, std::size_t capacity = kDefaultCapacity)
      : sink_(&sink),
        // new char[] leaves the bytes unset (make_unique_for_overwrite, which libc++ 14 lacks)
        data_(new char[std::max<std::size_t>(capacity, 1)]),
        pos_(data_.get()),
        end_(data_.get() + std::max<std::size_t>(capacity, 1)) {}
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;
  ~OutputBuffer() = default;  // the owner flushes; a destructor cannot report a failure

  void put(char c) {
    if (pos_ == end_) make_room(1);  // the bytes kept stay
    *pos_++ = c;
  }

  void put(std::string_view bytes) {
    const std::size_t n = bytes.size();
    char* out = reserve(n);
    if (n <= kShortPiece) {
      // Most pieces are a few bytes: a plain loop costs less than a call.
      for (std::size_t i = 0; i < n; ++i)
        out[i] = bytes[i];
    } else {
      std::memcpy(out, bytes.data(), n);
    }
    commit(out + n);
  }

  // Returns room for at least `n` bytes at the end of the output; what is written there counts
  // once commit() is given its end. The buffer grows when `n` exceeds it, so the room can hold the
  // rest of a line of any length.
  char* reserve(std::size_t n) {
    if (static_cast<std::size_t>(end_ - pos_) < n) make_room(n);
    return pos_;
  }
  void commit(char* end) { pos_ = end; }
  // Where the next byte goes, and how many bytes fit before the buffer is full.
  char* position() const { return pos_; }
  std::size_t room() const { return static_cast<std::size_t>(end_ - pos_); }

  // Hands the buffered bytes to the sink; returns false once any write has failed.
  bool flush() {
    const bool ok = hand_on(pos_);
    pos_ = data_.get();
    return ok;
  }

  bool failed() const { return sink_.failed(); }
  // Every byte put so far, handed to the sink or not.
  std::uint64_t total() const { return total_at(pos_); }
  // The same, as if the bytes from `position` on, not committed yet, were not there.
  std::uint64_t total_at(const char* position) const {
    return flushed_ + static_cast<std::uint64_t>(position - data_.get());
  }

  // Keeps the bytes put from `total` (a value of total()) on in the buffer until stop_keeping(),
  // so that output written for a comparison can be taken back and a line's own output read again:
  // when the buffer is full, the bytes before them are handed on and the kept ones moved to its
  // start, and it grows only when the kept bytes and the room asked for do not fit.
  void keep_since(std::uint64_t total) {
    keep_ = true;
    kept_from_ = total;
  }
  void stop_keeping() { keep_ = false; }
  // The size of the buffer: the most it has held at once.
  std::size_t capacity() const { return static_cast<std::size_t>(end_ - data_.get()); }
  // The bytes put since `total` (a value of total()), when they are all still in the buffer;
  // otherwise nothing, and `whole` false.
  std::string_view since(std::uint64_t total, bool& whole) const {
    whole = total >= flushed_;
    if (!whole) return {};
    const char* const from = data_.get() + (total - flushed_);
    return {from, static_cast<std::size_t>(pos_ - from)};
  }
  // Takes back the bytes put since `total`, which are all in the buffer.
  void take_back(std::uint64_t total) { pos_ = data_.get() + (total - flushed_); }
  // The bytes put from now on are dropped instead of handed to the sink; those before still go,
  // and `last_words` after them.
  void discard(std::string_view last_words) {
    discard_ = true;
    discard_from_ = total();
    last_words_.assign(last_words);
  }

  // True when the output so far is empty or ends with a line break.
  bool at_line_start() const { return (pos_ != data_.get() ? pos_[-1] : last_flushed_) == '\n'; }

  // Goes on from where an earlier run's output stood: `total` bytes put, the last of them a line
  // break when `at_line_start`. Nothing may be in the buffer.
  void resume(std::uint64_t total, bool at_line_start) {
    flushed_ = total;
    last_flushed_ = at_line_start ? '\n' : ' ';
  }

 private:
  static constexpr std::size_t kShortPiece = 16;

  // Hands the bytes before `end` to the sink, but those from the discarded ones on, and the last
  // words once every byte before the discarded ones is handed on; the caller moves what is left.
  bool hand_on(const char* end) {
    char* const begin = data_.get();
    const char* written = end;
    if (discard_) [[unlikely]]
      written =
          begin + std::min<std::uint64_t>(discard_from_ > flushed_ ? discard_from_ - flushed_ : 0,
                                          static_cast<std::uint64_t>(end - begin));
    flushed_ += static_cast<std::uint64_t>(end - begin);
    if (end != begin) last_flushed_ = end[-1];
    bool ok = sink_.write({begin, static_cast<std::size_t>(written - begin)});
    if (!last_words_.empty() && discard_from_ <= flushed_) [[unlikely]] {
      ok = sink_.write(last_words_);
      last_words_.clear();
    }
    return ok;
  }

  void make_room(std::size_t n) {
    if (keep_) {
      // The bytes before the kept ones go; the kept ones move to the start of the buffer, or to a
      // larger one when they and the room asked for do not fit.
      char* const begin = data_.get();
      char* const kept = kept_from_ > flushed_ ? begin + (kept_from_ - flushed_) : begin;
      if (kept != begin) hand_on(kept);
      const auto used = static_cast<std::size_t>(pos_ - kept);
      const auto size = static_cast<std::size_t>(end_ - begin);
      if (used + n <= size) {
        std::memmove(begin, kept, used);
        pos_ = begin + used;
        return;
      }
      const std::size_t larger_size = std::max(2 * size, used + n);
      std::unique_ptr<char[]> larger(new char[larger_size]);
      std::memcpy(larger.get(), kept, used);
      data_ = std::move(larger);
      pos_ = data_.get() + used;
      end_ = data_.get() + larger_size;
      return;
    }
    flush();
    if (static_cast<std::size_t>(end_ - pos_) < n) {
      // Not filled: only the pages that output reaches become resident, and the old buffer goes
      // before the new one is taken.
      data_.reset();
      data_.reset(new char[n]);
      pos_ = data_.get();
      end_ = pos_ + n;
    }
  }

  SinkWriter sink_;
  std::unique_ptr<char[]> data_;
  char* pos_;  // the next free byte
  char* end_;  // one past the buffer
  std::uint64_t flushed_ = 0;
  bool keep_ = false;
  std::uint64_t kept_from_ = 0;  // with keep_, the first byte kept
  bool discard_ = false;
  std::uint64_t discard_from_ = 0;
  std::string last_words_;    // handed on once the bytes before the discarded ones are
  char last_flushed_ = '\n';  // the last byte handed on, or a line break before the first
};

}  // namespace vorpex

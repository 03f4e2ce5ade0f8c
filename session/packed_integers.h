#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace vorpex {

// A long list of unsigned 32-bit integers in few bytes: each in 7 bits a byte, the lowest first,
// the high bit set in every byte but its last (most numbers of semantic tokens take one byte). The
// bytes are kept in blocks that never move, so the list grows without being copied.
class PackedIntegers {
 public:
  void push_back(std::uint32_t value) {
    ++count_;
    digits_ += value < 10 ? 1 : decimal_digits(value);
    while (value >= 0x80) {
      put(static_cast<std::uint8_t>(value | 0x80));
      value >>= 7;
    }
    put(static_cast<std::uint8_t>(value));
  }
  std::size_t size() const { return count_; }
  // The decimal digits of all the integers (the size of the list as text, but for separators).
  std::size_t digits() const { return digits_; }
  static std::size_t decimal_digits(std::uint32_t value) {
    std::size_t digits = 1;
    for (; value >= 10; value /= 10)
      ++digits;
    return digits;
  }
  bool empty() const { return count_ == 0; }
  // The bytes they take, and the bytes held.
  std::size_t bytes() const { return bytes_; }
  std::size_t memory() const { return blocks_.size() * kBlock; }
  std::uint8_t byte(std::size_t at) const { return blocks_[at / kBlock][at % kBlock]; }

  // Reads the integers in order, from the one that starts at byte `at`; 0 past the last.
  class Reader {
   public:
    explicit Reader(const PackedIntegers& list, std::size_t at = 0) : list_(&list), next_(at) {}
    std::uint32_t next() {
      // Most take one byte.
      if (here_ != end_ && *here_ < 0x80) return *here_++;
      std::uint32_t value = 0;
      for (unsigned shift = 0; shift < 35; shift += 7) {
        if (here_ == end_ && !refill()) break;
        const std::uint8_t b = *here_++;
        value |= static_cast<std::uint32_t>(b & 0x7F) << shift;
        if (b < 0x80) break;
      }
      return value;
    }
    // The byte the next integer starts at.
    std::size_t at() const { return next_ - static_cast<std::size_t>(end_ - here_); }

   private:
    // Points at the rest of the block that holds byte `next_`.
    bool refill() {
      if (next_ >= list_->bytes_) return false;
      const std::size_t stop = std::min((next_ / kBlock + 1) * kBlock, list_->bytes_);
      here_ = list_->blocks_[next_ / kBlock].get() + next_ % kBlock;
      end_ = here_ + (stop - next_);
      next_ = stop;
      return true;
    }

    const PackedIntegers* list_;
    std::size_t next_;  // the first byte past `end_`
    const std::uint8_t* here_ = nullptr;
    const std::uint8_t* end_ = nullptr;
  };

  // Replaces the integers in the bytes [from, to), `removed` of them with `removed_digits` decimal
  // digits, by those of `middle`. Each block of both is let go once it is copied, so that a long
  // list is not held twice.
  void splice(std::size_t from, std::size_t to, std::size_t removed, std::size_t removed_digits,
              PackedIntegers&& middle);

 private:
  static constexpr std::size_t kBlock = 64 * 1024;
  void put(std::uint8_t b) {
    if (bytes_ % kBlock == 0) blocks_.emplace_back(new std::uint8_t[kBlock]);
    blocks_.back()[bytes_++ % kBlock] = b;
  }
  void put_bytes(const std::uint8_t* bytes, std::size_t n);
  // Lets go the blocks wholly before byte `at`.
  void let_go_below(std::size_t at);
  // Appends the bytes [from, to) of `list`, letting each block of it go once they are past it.
  void take_bytes(PackedIntegers& list, std::size_t from, std::size_t to);

  std::vector<std::unique_ptr<std::uint8_t[]>> blocks_;
  std::size_t bytes_ = 0;
  std::size_t count_ = 0;
  std::size_t digits_ = 0;
};

}  // namespace vorpex

#include "session/packed_integers.h"

#include <algorithm>
#include <cstring>

namespace vorpex {

void PackedIntegers::put_bytes(const std::uint8_t* bytes, std::size_t n) {
  while (n > 0) {
    if (bytes_ % kBlock == 0) blocks_.emplace_back(new std::uint8_t[kBlock]);
    const std::size_t step = std::min(n, kBlock - bytes_ % kBlock);
    std::memcpy(blocks_.back().get() + bytes_ % kBlock, bytes, step);
    bytes_ += step;
    bytes += step;
    n -= step;
  }
}

void PackedIntegers::put_bytes_of(const PackedIntegers& list, std::size_t from, std::size_t to) {
  for (std::size_t at = from; at < to;) {
    const std::size_t stop = std::min(to, (at / kBlock + 1) * kBlock);
    put_bytes(list.blocks_[at / kBlock].get() + at % kBlock, stop - at);
    at = stop;
  }
}

void PackedIntegers::splice(std::size_t from, std::size_t to, std::size_t removed,
                            std::size_t removed_digits, const PackedIntegers& middle) {
  to = std::min(to, bytes_);
  from = std::min(from, to);
  PackedIntegers out;
  std::size_t kept = 0;  // the blocks before it are let go
  const auto let_go_below = [&](std::size_t at) {
    for (; kept < at / kBlock; ++kept)
      blocks_[kept].reset();
  };
  // This list's bytes [begin, end), each block let go once they are past it.
  const auto copy = [&](std::size_t begin, std::size_t end) {
    for (std::size_t at = begin; at < end;) {
      const std::size_t stop = std::min(end, (at / kBlock + 1) * kBlock);
      out.put_bytes(blocks_[at / kBlock].get() + at % kBlock, stop - at);
      at = stop;
      let_go_below(at);
    }
  };
  copy(0, from);
  let_go_below(to);
  out.put_bytes_of(middle, 0, middle.bytes_);
  copy(to, bytes_);
  out.count_ = count_ - removed + middle.count_;
  out.digits_ = digits_ - removed_digits + middle.digits_;
  *this = std::move(out);
}

}  // namespace vorpex

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

void PackedIntegers::let_go_below(std::size_t at) {
  // The blocks before are let go already, from the first on.
  for (std::size_t block = at / kBlock; block > 0 && blocks_[block - 1]; --block)
    blocks_[block - 1].reset();
}

void PackedIntegers::take_bytes(PackedIntegers& list, std::size_t from, std::size_t to) {
  for (std::size_t at = from; at < to;) {
    const std::size_t stop = std::min(to, (at / kBlock + 1) * kBlock);
    put_bytes(list.blocks_[at / kBlock].get() + at % kBlock, stop - at);
    at = stop;
    list.let_go_below(at);
  }
}

void PackedIntegers::splice(std::size_t from, std::size_t to, std::size_t removed,
                            std::size_t removed_digits, PackedIntegers&& middle) {
  to = std::min(to, bytes_);
  from = std::min(from, to);
  PackedIntegers out;
  out.take_bytes(*this, 0, from);
  let_go_below(to);
  out.take_bytes(middle, 0, middle.bytes_);
  out.take_bytes(*this, to, bytes_);
  out.count_ = count_ - removed + middle.count_;
  out.digits_ = digits_ - removed_digits + middle.digits_;
  *this = std::move(out);
}

}  // namespace vorpex

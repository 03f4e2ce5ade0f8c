#include "session/packed_integers.h"

#include <algorithm>

namespace vorpex {

namespace {

// A byte that ends an integer.
bool ends_integer(std::uint8_t b) {
  return b < 0x80;
}

}  // namespace

PackedIntegers::Common PackedIntegers::common(const PackedIntegers& a, const PackedIntegers& b) {
  Common c;
  // The same bytes hold the same integers: those that end among the bytes both start with.
  const std::size_t shorter = std::min(a.bytes_, b.bytes_);
  for (std::size_t at = 0; at < shorter && a.byte(at) == b.byte(at); ++at) {
    if (ends_integer(a.byte(at))) {
      ++c.head;
      c.head_bytes = at + 1;
    }
  }
  // The bytes both end with, after the head's: the integers that begin among them, after an
  // integer's last byte, and the first one only when it begins right after the head in both.
  std::size_t same = 0;
  while (same < shorter - c.head_bytes &&
         a.byte(a.bytes_ - 1 - same) == b.byte(b.bytes_ - 1 - same))
    ++same;
  for (std::size_t k = 0; k < same; ++k) {
    if (ends_integer(a.byte(a.bytes_ - 1 - k))) ++c.tail;
  }
  const auto starts_integer = [&](const PackedIntegers& list, std::size_t at) {
    return at == c.head_bytes || ends_integer(list.byte(at - 1));
  };
  if (c.tail > 0 && !(starts_integer(a, a.bytes_ - same) && starts_integer(b, b.bytes_ - same)))
    --c.tail;
  return c;
}

}  // namespace vorpex

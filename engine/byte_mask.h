#pragma once

// Masks of bytes, one bit per byte, bit i for byte i, and what the fast path does with them:
// std::uint64_t for a step of 64 bytes, Mask128 and Mask256 for wider spans. Mask128 is the
// compiler's 128-bit integer where it has one (the 64-bit targets); elsewhere (the 32-bit ones) it
// is two 64-bit halves, as Mask256 is two Mask128. The choice is made here, when the engine is
// compiled; every mask type takes the same operators and the same functions below, and the tests
// hold each of them to a mask of single bits.

#include <bit>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace vorpex::mask {

// Twice the bits of `H`, as a low and a high half, with the operators of an unsigned integer.
template <typename H>
struct Halves {
  static constexpr std::size_t kHalf = sizeof(H) * 8;

  H lo = 0;
  H hi = 0;

  constexpr Halves() = default;
  constexpr Halves(H low) : lo(low) {}  // NOLINT: widens as an unsigned integer does
  // An integer converts as it would to a wider unsigned integer: a negative one fills the high
  // half.
  template <std::integral T>
  constexpr Halves(T low) : lo(static_cast<H>(low)) {  // NOLINT: widens as an unsigned integer does
    if constexpr (std::is_signed_v<T>) {
      if (low < 0) hi = ~H{0};
    }
  }
  constexpr Halves(H high, H low) : lo(low), hi(high) {}
  template <typename T>
  constexpr explicit operator T() const {
    return static_cast<T>(lo);
  }

  friend constexpr bool operator==(const Halves&, const Halves&) = default;
  friend constexpr bool operator<(const Halves& a, const Halves& b) {
    return a.hi != b.hi ? a.hi < b.hi : a.lo < b.lo;
  }
  friend constexpr bool operator>(const Halves& a, const Halves& b) { return b < a; }
  friend constexpr Halves operator~(const Halves& a) { return {~a.hi, ~a.lo}; }
  friend constexpr Halves operator&(const Halves& a, const Halves& b) {
    return {a.hi & b.hi, a.lo & b.lo};
  }
  friend constexpr Halves operator|(const Halves& a, const Halves& b) {
    return {a.hi | b.hi, a.lo | b.lo};
  }
  friend constexpr Halves operator^(const Halves& a, const Halves& b) {
    return {a.hi ^ b.hi, a.lo ^ b.lo};
  }
  friend constexpr Halves operator+(const Halves& a, const Halves& b) {
    const H lo = a.lo + b.lo;
    return {a.hi + b.hi + H{lo < a.lo ? 1u : 0u}, lo};
  }
  friend constexpr Halves operator-(const Halves& a, const Halves& b) {
    return {a.hi - b.hi - H{a.lo < b.lo ? 1u : 0u}, a.lo - b.lo};
  }
  friend constexpr Halves operator<<(const Halves& a, std::size_t k) {
    if (k == 0) return a;
    if (k >= 2 * kHalf) return {};
    if (k >= kHalf) return {a.lo << (k - kHalf), H{0}};
    return {(a.hi << k) | (a.lo >> (kHalf - k)), a.lo << k};
  }
  friend constexpr Halves operator>>(const Halves& a, std::size_t k) {
    if (k == 0) return a;
    if (k >= 2 * kHalf) return {};
    if (k >= kHalf) return {H{0}, a.hi >> (k - kHalf)};
    return {a.hi >> k, (a.lo >> k) | (a.hi << (kHalf - k))};
  }
  Halves& operator&=(const Halves& b) { return *this = *this & b; }
  Halves& operator|=(const Halves& b) { return *this = *this | b; }
  Halves& operator^=(const Halves& b) { return *this = *this ^ b; }
};

#if defined(__SIZEOF_INT128__)
#define VORPEX_MASK_NATIVE_128 1
__extension__ using Native128 = unsigned __int128;
using Mask128 = Native128;
#else
using Mask128 = Halves<std::uint64_t>;
#endif
using Mask256 = Halves<Mask128>;

template <typename M>
inline constexpr bool kIsHalves = false;
template <typename H>
inline constexpr bool kIsHalves<Halves<H>> = true;

template <typename M>
inline constexpr std::size_t kBits = sizeof(M) * 8;
template <typename M>
inline constexpr M kAll = ~M{0};

// The bits below bit n (all of them from kBits on).
template <typename M>
constexpr M below(std::size_t n) {
  return n >= kBits<M> ? kAll<M> : (M{1} << n) - 1;
}
// The lowest set bit of a mask that is not 0.
template <typename M>
constexpr std::size_t lowest(M m) {
  if constexpr (std::is_same_v<M, std::uint64_t>) {
    return static_cast<std::size_t>(std::countr_zero(m));
  } else if constexpr (kIsHalves<M>) {
    return m.lo != 0 ? lowest(m.lo) : M::kHalf + lowest(m.hi);
  } else {
    const auto low = static_cast<std::uint64_t>(m);
    return low != 0 ? static_cast<std::size_t>(std::countr_zero(low))
                    : 64 + static_cast<std::size_t>(
                               std::countr_zero(static_cast<std::uint64_t>(m >> 64)));
  }
}
// The lowest set bit of `m` as a mask, or 0.
template <typename M>
constexpr M lowest_bit(M m) {
  return m & (~m + 1);
}
// The bits below the lowest set bit of `m` (all of them when `m` is 0).
template <typename M>
constexpr M below_lowest(M m) {
  return lowest_bit(m) - 1;
}
// The bits above bit `at`'s lowest set bit (`at` a single bit).
template <typename M>
constexpr M above(M at) {
  return ~((at << 1) - 1);
}
// The highest set bit of a mask that is not 0.
template <typename M>
constexpr std::size_t highest(M m) {
  if constexpr (std::is_same_v<M, std::uint64_t>) {
    return 63 - static_cast<std::size_t>(std::countl_zero(m));
  } else if constexpr (kIsHalves<M>) {
    return m.hi != 0 ? M::kHalf + highest(m.hi) : highest(m.lo);
  } else {
    const auto high = static_cast<std::uint64_t>(m >> 64);
    return high != 0 ? 127 - static_cast<std::size_t>(std::countl_zero(high))
                     : highest(static_cast<std::uint64_t>(m));
  }
}
template <typename M>
constexpr bool has(M m, std::size_t i) {
  return ((m >> i) & 1) != 0;
}
// True when exactly one bit is set.
template <typename M>
constexpr bool single(M m) {
  return m != 0 && (m & (m - 1)) == 0;
}
// Bit i set when byte i + k is in `m`, or lies past the mask's last byte.
template <typename M>
constexpr M at_offset(M m, unsigned k) {
  return (m >> k) | ~(kAll<M> >> k);
}
// Bit i is the parity of the bits 0..i of `m`: set from an opening quote up to its closing one.
template <typename M>
constexpr M prefix_xor(M m) {
  for (unsigned shift = 1; shift < kBits<M>; shift *= 2)
    m ^= m << shift;
  return m;
}
// The bits of `runs` in the runs that begin at a bit of `starts` (each start a run's first bit).
template <typename M>
constexpr M runs_from(M runs, M starts) {
  return runs & ~(runs + starts);
}
// The length of the run of set bits of `m` from bit `start` on.
template <typename M>
constexpr std::size_t run_length(M m, std::size_t start) {
  const M rest = ~(m >> start);
  return rest != 0 ? lowest(rest) : kBits<M> - start;
}

}  // namespace vorpex::mask

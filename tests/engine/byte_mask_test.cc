#include "engine/byte_mask.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace vorpex::mask {
namespace {

// Every mask type is held to a row of single bits: the masks of two 64-bit halves, which the
// 32-bit builds take for 128 bits, as well as the compiler's 128-bit integer where it has one.
using MaskTypes =
    ::testing::Types<std::uint64_t, Halves<std::uint64_t>, Halves<Halves<std::uint64_t>>
#if defined(VORPEX_MASK_NATIVE_128)
                     ,
                     Native128, Halves<Native128>
#endif
                     >;

template <typename M>
class ByteMaskTest : public ::testing::Test {};
TYPED_TEST_SUITE(ByteMaskTest, MaskTypes);

template <typename M>
using Bits = std::bitset<kBits<M>>;

// The mask and its bits, read from its bytes without any of its operators (little-endian bytes,
// as the fast line path lays them out).
template <typename M>
Bits<M> bits_of(const M& m) {
  const auto bytes = std::bit_cast<std::array<std::uint8_t, sizeof(M)>>(m);
  Bits<M> b;
  for (std::size_t k = sizeof(M); k-- > 0;)
    b = (b << 8) | Bits<M>(bytes[k]);
  return b;
}
template <typename M>
M mask_of(const Bits<M>& b) {
  std::array<std::uint8_t, sizeof(M)> bytes{};
  for (std::size_t k = 0; k < sizeof(M); ++k)
    bytes[k] = static_cast<std::uint8_t>(((b >> (8 * k)) & Bits<M>(0xFF)).to_ulong());
  return std::bit_cast<M>(bytes);
}

template <std::size_t N>
std::bitset<N> add(const std::bitset<N>& a, const std::bitset<N>& b) {
  std::bitset<N> sum;
  bool carry = false;
  for (std::size_t i = 0; i < N; ++i) {
    sum[i] = (a[i] != b[i]) != carry;
    carry = (a[i] && b[i]) || (carry && a[i] != b[i]);
  }
  return sum;
}
template <std::size_t N>
std::bitset<N> subtract(const std::bitset<N>& a, const std::bitset<N>& b) {
  return add(a, add(~b, std::bitset<N>(1)));
}

// Masks of every shape the line's classes take: random bits, a few bits, runs, none, all, and
// single bits on both sides of each half's border.
template <typename M>
Bits<M> random_bits(std::mt19937& rng) {
  constexpr std::size_t n = kBits<M>;
  Bits<M> b;
  switch (rng() % 6) {
    case 0:
      for (std::size_t i = 0; i < n; ++i)
        b[i] = (rng() & 1) != 0;
      break;
    case 1:
      for (unsigned k = rng() % 4; k > 0; --k)
        b[rng() % n] = true;
      break;
    case 2:
      for (std::size_t i = 0, on = rng() & 1; i < n; on ^= 1) {
        for (std::size_t run = 1 + rng() % 40; run > 0 && i < n; --run)
          b[i++] = on != 0;
      }
      break;
    case 3:
      break;
    case 4:
      b.set();
      break;
    default: {
      const std::size_t border = 64u << (rng() % 3);
      b[(border + rng() % 3 + n - 1) % n] = true;
      if (rng() & 1) b.flip();
    }
  }
  return b;
}

// The bits of `runs` in the runs that begin at a bit of `starts`.
template <std::size_t N>
std::bitset<N> runs_from_bits(const std::bitset<N>& runs, const std::bitset<N>& starts) {
  std::bitset<N> kept;
  bool in = false;
  for (std::size_t i = 0; i < N; ++i) {
    if (!runs[i]) {
      in = false;
      continue;
    }
    if (i == 0 || !runs[i - 1]) in = starts[i];
    kept[i] = in;
  }
  return kept;
}

TYPED_TEST(ByteMaskTest, OperatorsMatchTheBits) {
  using M = TypeParam;
  using B = Bits<M>;
  constexpr std::size_t n = kBits<M>;
  struct Binary {
    const char* name;
    M (*mask)(M, M);
    B (*bits)(const B&, const B&);
  };
  const Binary binary[] = {
      {"&", [](M a, M b) { return M(a & b); }, [](const B& a, const B& b) { return a & b; }},
      {"|", [](M a, M b) { return M(a | b); }, [](const B& a, const B& b) { return a | b; }},
      {"^", [](M a, M b) { return M(a ^ b); }, [](const B& a, const B& b) { return a ^ b; }},
      {"+", [](M a, M b) { return M(a + b); }, [](const B& a, const B& b) { return add(a, b); }},
      {"-", [](M a, M b) { return M(a - b); },
       [](const B& a, const B& b) { return subtract(a, b); }},
      {"~a", [](M a, M) { return M(~a); }, [](const B& a, const B&) { return ~a; }},
      {"runs_from", [](M a, M b) { return runs_from(a, b & a & ~(a << 1)); },
       [](const B& a, const B& b) { return runs_from_bits(a, b & a & ~(a << 1)); }},
      {"prefix_xor", [](M a, M) { return prefix_xor(a); },
       [](const B& a, const B&) {
         B x;
         for (std::size_t i = 0, parity = 0; i < n; ++i)
           x[i] = (parity ^= a[i]) != 0;
         return x;
       }},
  };
  std::mt19937 rng(7);
  for (int round = 0; round < 1000; ++round) {
    const B a = random_bits<M>(rng), b = random_bits<M>(rng);
    const M x = mask_of<M>(a), y = mask_of<M>(b);
    SCOPED_TRACE(::testing::Message() << "a " << a.to_string() << "\nb " << b.to_string());
    for (const Binary& op : binary) {
      ASSERT_EQ(bits_of(op.mask(x, y)), op.bits(a, b)) << op.name;
    }
    ASSERT_EQ(x == y, a == b);
    ASSERT_EQ(x != 0, a.any());
    ASSERT_EQ(single(x), a.count() == 1);
    bool greater = false;
    for (std::size_t i = n; i-- > 0;) {
      if (a[i] != b[i]) {
        greater = a[i];
        break;
      }
    }
    ASSERT_EQ(x > y, greater);
    if (a.any()) {
      std::size_t low = 0, high = n - 1;
      while (!a[low])
        ++low;
      while (!a[high])
        --high;
      ASSERT_EQ(lowest(x), low);
      ASSERT_EQ(highest(x), high);
    }
    ASSERT_EQ(static_cast<std::uint16_t>(x), (a & B{0xFFFF}).to_ullong());
    // Shifts and the functions that take a bit's place: on both sides of every border of 64 bits,
    // and a few others.
    std::vector<std::size_t> places;
    for (std::size_t border = 0; border <= n; border += 64) {
      for (std::size_t k = border > 0 ? border - 1 : 0; k <= std::min(border + 1, n); ++k)
        places.push_back(k);
    }
    for (int extra = 0; extra < 8; ++extra)
      places.push_back(rng() % n);
    for (const std::size_t k : places) {
      SCOPED_TRACE(::testing::Message() << "k " << k);
      const B low = k >= n ? ~B{} : ~B{} >> (n - k);
      ASSERT_EQ(bits_of(below<M>(k)), low);
      if (k == n) continue;  // no shift by the whole width, as with an integer
      ASSERT_EQ(bits_of(M(x << k)), a << k);
      ASSERT_EQ(bits_of(M(x >> k)), a >> k);
      ASSERT_EQ(has(x, k), a[k]);
      std::size_t run = 0;
      while (k + run < n && a[k + run])
        ++run;
      ASSERT_EQ(run_length(x, k), run);
      ASSERT_EQ(bits_of(at_offset(x, static_cast<unsigned>(k))), (a >> k) | ~(~B{} >> k));
    }
  }
}

// Integers widen as they would to a wider unsigned integer.
TYPED_TEST(ByteMaskTest, IntegersWidenAsUnsignedOnes) {
  using M = TypeParam;
  using B = Bits<M>;
  EXPECT_EQ(bits_of(M{0}), B{});
  EXPECT_EQ(bits_of(M{1}), B{1});
  EXPECT_EQ(bits_of(M{std::uint16_t{0xBEEF}}), B{0xBEEF});
  EXPECT_EQ(bits_of(M{~std::uint64_t{0}}), B{~0ull});
  EXPECT_EQ(bits_of(M(-1)), ~B{});
  EXPECT_EQ(bits_of(kAll<M>), ~B{});
}

}  // namespace
}  // namespace vorpex::mask

#include "engine/simd.h"

#include "engine/byte_mask.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <string_view>

namespace vorpex {
namespace {

// The vector primitives give what the byte-at-a-time ones give, on blocks of every kind of byte:
// the syntax bytes of the language, control bytes and bytes 0x80-0xFF in equal shares.
TEST(SimdTest, VectorPrimitivesMatchTheBytewiseOnes) {
  std::mt19937 rng(11);
  constexpr std::string_view kBytes = "&|+-*/%=;(),><'\" \t.:$#rReEmMdD09azAZ\r\n";
  std::array<char, simd::kMarked + simd::kBlock> text{};
  for (int round = 0; round < 20000; ++round) {
    for (char& c : text) {
      const unsigned pick = rng() % 3;
      c = pick == 0 ? kBytes[rng() % kBytes.size()]
                    : static_cast<char>(rng() % (pick == 1 ? 32 : 256));
    }
    const auto upper = static_cast<std::uint16_t>(rng());
    const auto space = static_cast<std::uint16_t>(rng());
    std::array<char, simd::kBlock> a{}, b{};
    simd::transform(text.data(), a.data(), upper, space);
    simd::portable::transform(text.data(), b.data(), upper, space);
    ASSERT_EQ(a, b) << "round " << round;

    // The gather of the kept bytes, with and without the CR of each kept LF, against the marks
    // read one by one, for ranges of one to three groups and their edge marks.
    const std::array<std::uint8_t, 3> keep = {static_cast<std::uint8_t>(rng()),
                                              static_cast<std::uint8_t>(rng()),
                                              static_cast<std::uint8_t>(rng())};
    const std::array<std::uint8_t, 3> ends = {static_cast<std::uint8_t>(rng() & rng()),
                                              static_cast<std::uint8_t>(rng() & rng()),
                                              static_cast<std::uint8_t>(rng() & rng())};
    const std::size_t groups = 1 + rng() % 3;
    const auto first = static_cast<std::uint8_t>(0xFFu << (rng() % 8));
    const auto last = static_cast<std::uint8_t>(0xFFu >> (rng() % 8));
    std::string kept, lines;
    for (std::size_t g = 0; g < groups; ++g) {
      for (unsigned k = 0; k < simd::kGroup; ++k) {
        const bool edge_keeps =
            (g != 0 || ((first >> k) & 1u)) && (g + 1 != groups || ((last >> k) & 1u));
        if (((keep[g] >> k) & 1u) == 0 || !edge_keeps) continue;
        kept += text[g * simd::kGroup + k];
        if ((ends[g] >> k) & 1u) lines += '\r';
        lines += text[g * simd::kGroup + k];
      }
    }
    std::array<char, 6 * simd::kGroup> x{};
    const char* x_end =
        simd::compress_range(text.data(), keep.data(), groups, first, last, x.data());
    ASSERT_EQ(std::string_view(x.data(), static_cast<std::size_t>(x_end - x.data())), kept)
        << "round " << round;
    x_end =
        simd::compress_lines(text.data(), keep.data(), ends.data(), groups, first, last, x.data());
    ASSERT_EQ(std::string_view(x.data(), static_cast<std::size_t>(x_end - x.data())), lines)
        << "round " << round;

    // The writers over longer ranges, against the marks read one by one, with and without line
    // ends, and the two writers against each other.
    constexpr std::size_t kGroups = text.size() / simd::kGroup - 1;
    std::array<std::uint8_t, kGroups> marks{}, long_ends{}, none{};
    for (std::size_t g = 0; g < kGroups; ++g) {
      marks[g] = static_cast<std::uint8_t>(rng());
      long_ends[g] = static_cast<std::uint8_t>(rng() & marks[g] & rng());
    }
    const std::size_t span = 1 + rng() % kGroups;
    const auto head = static_cast<std::uint8_t>(0xFFu << (rng() % simd::kGroup));
    const auto tail = static_cast<std::uint8_t>(0xFFu >> (rng() % simd::kGroup));
    std::string long_kept, long_lines;
    for (std::size_t g = 0; g < span; ++g) {
      for (unsigned k = 0; k < simd::kGroup; ++k) {
        const bool edge_keeps =
            (g != 0 || ((head >> k) & 1u)) && (g + 1 != span || ((tail >> k) & 1u));
        if (((marks[g] >> k) & 1u) == 0 || !edge_keeps) continue;
        long_kept += text[g * simd::kGroup + k];
        if ((long_ends[g] >> k) & 1u) long_lines += '\r';
        long_lines += text[g * simd::kGroup + k];
      }
    }
    std::array<char, 2 * text.size() + simd::kGroup> r1{}, l1{}, l2{};
    const auto written = [](const char* begin, const char* end) {
      return std::string_view(begin, static_cast<std::size_t>(end - begin));
    };
    ASSERT_EQ(written(r1.data(),
                      simd::compress_range(text.data(), marks.data(), span, head, tail, r1.data())),
              long_kept)
        << "round " << round;
    ASSERT_EQ(written(l1.data(), simd::compress_lines(text.data(), marks.data(), long_ends.data(),
                                                      span, head, tail, l1.data())),
              long_lines)
        << "round " << round;
    ASSERT_EQ(written(l2.data(), simd::compress_lines(text.data(), marks.data(), none.data(), span,
                                                      head, tail, l2.data())),
              long_kept)
        << "round " << round;

    // The line-end scans of every level that this machine runs, on these bytes and on the same
    // bytes with line ends few and far between.
    std::array<char, text.size()> sparse = text;
    for (char& c : sparse) {
      if (c == '\n' || c == '\r') c = 'x';
    }
    if (round % 2 == 0) sparse[rng() % sparse.size()] = round % 4 == 0 ? '\n' : '\r';
    const std::size_t n = rng() % (text.size() - simd::kBlock + 2);
    for (const simd::Level level : simd::kLevels) {
      if (!simd::runs(level)) continue;
      for (const auto* bytes : {&text, &sparse}) {
        ASSERT_EQ(simd::find_either(bytes->data(), n, '\n', '\r', level),
                  simd::portable::find_either(bytes->data(), n, '\n', '\r'))
            << simd::name(level) << ", round " << round;
        ASSERT_EQ(simd::mark_either(bytes->data(), '\n', '\r', level),
                  simd::portable::mark_either(bytes->data(), '\n', '\r'))
            << simd::name(level) << ", round " << round;
      }
      ASSERT_TRUE(simd::classify_step(text.data(), level) ==
                  simd::portable::classify_step(text.data()))
          << simd::name(level) << ", round " << round;
#if defined(VORPEX_SIMD_SSE2) && defined(__x86_64__)
      if (level == simd::Level::Avx2 && simd::window_avx2()) {
        const std::uint64_t quotes = rng() * 0x100000001ull ^ rng();
        ASSERT_EQ(simd::detail::prefix_xor_clmul(quotes), mask::prefix_xor(quotes))
            << "round " << round;
      }
#endif
#if defined(VORPEX_SIMD_SSE2) && !defined(_WIN32)
      if (level == simd::Level::Avx2) {
        const std::uint64_t upper = rng() * 0x100000001ull, space = rng() * 0x100000001ull;
        std::array<char, simd::kStep> wide{}, narrow{};
        simd::detail::transform_step_avx2(text.data(), wide.data(), upper, space);
        for (unsigned k = 0; k < simd::kStep; k += simd::kBlock)
          simd::portable::transform(text.data() + k, narrow.data() + k,
                                    static_cast<std::uint16_t>(upper >> k),
                                    static_cast<std::uint16_t>(space >> k));
        ASSERT_EQ(wide, narrow) << "round " << round;
      }
#endif
    }
  }
}

}  // namespace
}  // namespace vorpex

#pragma once

// The data-parallel primitives of the fast path: the byte classes of a step of 64 bytes, a
// block's transform, the gather of the kept bytes, and the text reader's marks of the line ends.
// Each comes at the levels of `Level`: plain table lookups everywhere (the reference), SSE2 on
// x86-64 and on 32-bit x86 built for it (-msse2), with SSSE3 (the byte shuffle) and AVX2 taken
// where the processor has them, found at start-up, so that the binary itself needs no more than
// the baseline; NEON on AArch64 and on 32-bit ARM built for it (-mfpu=neon). Every intrinsic of
// the engine is in this file; fast_block.cc compiles its window's pass once more for AVX2 and
// names the functions of `detail` that it inlines there.

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "engine/byte_mask.h"
#include "engine/char_class.h"

#if defined(__SSE2__)
#include <cpuid.h>
#include <emmintrin.h>
#include <immintrin.h>  // AVX2, used only in the functions compiled for it
#include <tmmintrin.h>
#define VORPEX_SIMD_SSE2 1
#elif defined(__ARM_NEON)
#include <arm_neon.h>
#define VORPEX_SIMD_NEON 1
#endif

namespace vorpex::simd {

inline constexpr std::size_t kBlock = 16;
inline constexpr std::size_t kGroup = 8;    // the bytes compress_range() gathers at a time
inline constexpr std::size_t kMarked = 64;  // the bytes mark_either() takes at a time

// For each mask of 8 bits: the positions of its set bits, lowest first, and how many there are.
struct GroupTable {
  std::array<std::array<std::uint8_t, kGroup>, 256> positions{};
  std::array<std::uint8_t, 256> count{};
};
inline constexpr GroupTable kGroupTable = [] {
  GroupTable t;
  for (unsigned m = 0; m < 256; ++m) {
    unsigned k = 0;
    for (unsigned bit = 0; bit < kGroup; ++bit) {
      if ((m >> bit) & 1u) t.positions[m][k++] = static_cast<std::uint8_t>(bit);
    }
    t.count[m] = static_cast<std::uint8_t>(k);
  }
  return t;
}();

// The classes of bytes that the fast path tells apart, each drawn from char_class's table.
enum class ByteClass : unsigned {
  Operator,      // the operators but the apostrophe
  Blank,         // space, TAB
  Letter,        // A-Z a-z
  Quote,         // "
  Control,       // the bytes below 0x20 but the blanks, and 0x80-0xFF
  KeywordStart,  // R and D in either case: where REM and DEFINE may begin
  Digit,         // 0-9
  Apostrophe,    // ', which begins a comment
  Lf,
  Cr,
};
inline constexpr unsigned kByteClasses = 10;

// Whether byte `b` is of class `k`.
constexpr bool in_class(ByteClass k, unsigned char b) {
  const auto c = static_cast<char>(b);
  switch (k) {
    case ByteClass::Operator:
      return char_class::has(c, char_class::kOperator) && c != '\'';
    case ByteClass::Blank:
      return char_class::has(c, char_class::kBlank);
    case ByteClass::Letter:
      return char_class::has(c, char_class::kLetter);
    case ByteClass::Quote:
      return char_class::has(c, char_class::kQuote);
    case ByteClass::Control:
      return b >= 0x80 || (b < 0x20 && !char_class::has(c, char_class::kBlank));
    case ByteClass::KeywordStart:
      return char_class::to_upper(c) == 'R' || char_class::to_upper(c) == 'D';
    case ByteClass::Digit:
      return char_class::has(c, char_class::kDigit);
    case ByteClass::Apostrophe:
      return c == '\'';
    case ByteClass::Lf:
      return c == '\n';
    case ByteClass::Cr:
      return c == '\r';
  }
  return false;
}

// Bit k of byte b's entry: b is of class k. The portable classification reads it byte by byte.
inline constexpr std::array<std::uint16_t, 256> kClassTable = [] {
  std::array<std::uint16_t, 256> t{};
  for (unsigned b = 0; b < 256; ++b) {
    for (unsigned k = 0; k < kByteClasses; ++k) {
      if (in_class(static_cast<ByteClass>(k), static_cast<unsigned char>(b)))
        t[b] = static_cast<std::uint16_t>(t[b] | (1u << k));
    }
  }
  return t;
}();

// The same classes as two lookups of a nibble each, for a vector unit with a byte shuffle: byte b
// is of class k when lo[h][b & 15] & hi[h][b >> 4] has one of the bits `bits[k]`, h = half[k].
// Each class gets one bit for each distinct set of low nibbles that its high nibbles take, the
// bits of a class in one of two bytes of 8.
struct NibbleTables {
  std::array<std::array<std::uint8_t, 16>, 2> lo{}, hi{};
  std::array<std::uint8_t, kByteClasses> half{}, bits{};
  bool fits = true;
};
inline constexpr NibbleTables kNibbleTables = [] {
  NibbleTables t;
  unsigned next = 0;
  for (unsigned k = 0; k < kByteClasses; ++k) {
    std::array<std::uint16_t, 16> lows{};  // for each high nibble, its low nibbles in the class
    for (unsigned h = 0; h < 16; ++h) {
      for (unsigned l = 0; l < 16; ++l) {
        if (in_class(static_cast<ByteClass>(k), static_cast<unsigned char>(h * 16 + l)))
          lows[h] = static_cast<std::uint16_t>(lows[h] | (1u << l));
      }
    }
    std::array<std::uint16_t, 16> distinct{};
    unsigned count = 0;
    for (const std::uint16_t set : lows) {
      bool seen = set == 0;
      for (unsigned i = 0; i < count; ++i)
        seen = seen || distinct[i] == set;
      if (!seen) distinct[count++] = set;
    }
    if (next % 8 + count > 8) next = (next / 8 + 1) * 8;
    if (next + count > 16) {
      t.fits = false;
      return t;
    }
    const unsigned half = next / 8;
    t.half[k] = static_cast<std::uint8_t>(half);
    for (unsigned i = 0; i < count; ++i, ++next) {
      const auto bit = static_cast<std::uint8_t>(1u << (next % 8));
      t.bits[k] = static_cast<std::uint8_t>(t.bits[k] | bit);
      for (unsigned l = 0; l < 16; ++l) {
        if ((distinct[i] >> l) & 1u) t.lo[half][l] = static_cast<std::uint8_t>(t.lo[half][l] | bit);
      }
      for (unsigned h = 0; h < 16; ++h) {
        if (lows[h] == distinct[i]) t.hi[half][h] = static_cast<std::uint8_t>(t.hi[half][h] | bit);
      }
    }
  }
  return t;
}();
static_assert(kNibbleTables.fits, "the byte classes take more than 16 bits of nibble tables");
static_assert([] {
  for (unsigned b = 0; b < 256; ++b) {
    for (unsigned k = 0; k < kByteClasses; ++k) {
      const unsigned h = kNibbleTables.half[k];
      const bool looked_up =
          (kNibbleTables.lo[h][b & 15] & kNibbleTables.hi[h][b >> 4] & kNibbleTables.bits[k]) != 0;
      if (looked_up != in_class(static_cast<ByteClass>(k), static_cast<unsigned char>(b)))
        return false;
    }
  }
  return true;
}());

// The classes of a step of 64 bytes, bit i for byte i.
inline constexpr std::size_t kStep = 64;
struct StepClasses {
  std::array<std::uint64_t, kByteClasses> bits{};

  std::uint64_t operator[](ByteClass k) const { return bits[static_cast<unsigned>(k)]; }
  friend bool operator==(const StepClasses&, const StepClasses&) = default;
};

// The instruction sets that the classification and the line-end scans come in, narrowest first;
// every variant gives the same results. The widest one that the processor runs is found once
// (kBest) and taken unless a caller names another: the tests and the differential fuzzer run each
// one that the machine runs. At Sse2 the classes are found with SSSE3's byte shuffle where the
// processor has it, with the portable table where it has not. The transform and the gather take
// the build's own vector unit (SSE2, with SSSE3's shuffle for the gather where it is there, NEON),
// whatever the level.
enum class Level : std::uint8_t { Portable, Sse2, Avx2, Neon };
inline constexpr std::array<Level, 4> kLevels = {Level::Portable, Level::Sse2, Level::Avx2,
                                                 Level::Neon};

inline constexpr const char* name(Level level) {
  switch (level) {
    case Level::Portable:
      return "portable";
    case Level::Sse2:
      return "SSE2";
    case Level::Avx2:
      return "AVX2";
    case Level::Neon:
      return "NEON";
  }
  return "?";
}

#if defined(VORPEX_SIMD_SSE2)
namespace detail {

// What the processor offers beyond the x86-64 baseline, asked once with CPUID and XGETBV rather
// than __builtin_cpu_supports, which would link libgcc's probe of every feature: a dozen CPUID
// instructions at start-up, each of which traps to the hypervisor on a virtual machine (several
// microseconds here), a measurable share of a run on a small file.
struct Features {
  bool ssse3 = false;
  bool clmul = false;  // the carry-less multiply
  bool avx2 = false;   // the instructions, and the system saves the YMM registers
  bool bmi = false;    // BMI1 and BMI2, which every processor with AVX2 we know of has too
};
inline const Features kFeatures = [] {
  Features f;
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  __cpuid(1, eax, ebx, ecx, edx);  // leaf 1 is there on every x86-64
  f.ssse3 = (ecx & bit_SSSE3) != 0;
  f.clmul = (ecx & bit_PCLMUL) != 0;
  if ((ecx & bit_OSXSAVE) == 0 || (ecx & bit_AVX) == 0) return f;
  unsigned xcr0_low = 0, xcr0_high = 0;
  __asm__ volatile("xgetbv" : "=a"(xcr0_low), "=d"(xcr0_high) : "c"(0));  // only after OSXSAVE
  if ((xcr0_low & 0x6) != 0x6) return f;                                  // XMM and YMM state
  __cpuid_count(7, 0, eax, ebx, ecx, edx);  // there on every processor with XSAVE and AVX
  f.avx2 = (ebx & bit_AVX2) != 0;
  f.bmi = (ebx & bit_BMI) != 0 && (ebx & bit_BMI2) != 0;
  return f;
}();

}  // namespace detail
#endif

// Whether this build and this processor run the variant.
inline bool runs(Level level) {
  switch (level) {
    case Level::Portable:
      return true;
#if defined(VORPEX_SIMD_SSE2)
    case Level::Sse2:
      return true;
    case Level::Avx2:
      return detail::kFeatures.avx2;
#elif defined(VORPEX_SIMD_NEON)
    case Level::Neon:
      return true;
#endif
    default:
      return false;
  }
}

inline const Level kBest = [] {
  Level best = Level::Portable;
  for (const Level level : kLevels) {
    if (runs(level)) best = level;
  }
  return best;
}();

namespace detail {

// The index of the first byte of text[0, n) that `hits` marks (it gives one bit per byte of the
// block it is handed), or n when there is none. The last block, which may reach past text + n, is
// the only one whose marks are restricted to the text: what lies past it never matters.
template <typename Hits>
std::size_t find_first(const char* text, std::size_t n, Hits hits) {
  std::size_t k = 0;
  for (; k + kBlock <= n; k += kBlock) {
    if (const unsigned h = hits(text + k); h != 0)
      return k + static_cast<std::size_t>(__builtin_ctz(h));
  }
  if (k < n) {
    const unsigned h = hits(text + k) & ((1u << (n - k)) - 1);
    if (h != 0) return k + static_cast<std::size_t>(__builtin_ctz(h));
  }
  return n;
}

}  // namespace detail

namespace portable {

// The same primitives one byte at a time: where no vector unit is known, and as the reference
// that the tests hold the vector ones to.

// Writes the bytes of a group of 8 that `keep` marks at `out`, in order; returns the new end.
// Writes 8 bytes.
struct Gather {
  char* operator()(const char* source, std::uint8_t keep, char* out) const {
    const auto& positions = kGroupTable.positions[keep];
    for (std::size_t k = 0; k < kGroup; ++k)
      out[k] = source[positions[k]];
    return out + kGroupTable.count[keep];
  }
};

inline std::size_t find_either(const char* text, std::size_t n, char a, char b) {
  for (std::size_t k = 0; k < n; ++k) {
    if (text[k] == a || text[k] == b) return k;
  }
  return n;
}

inline std::uint64_t mark_either(const char* text, char a, char b) {
  std::uint64_t marks = 0;
  for (unsigned k = 0; k < kMarked; ++k) {
    if (text[k] == a || text[k] == b) marks |= std::uint64_t{1} << k;
  }
  return marks;
}

inline StepClasses classify_step(const char* text) {
  StepClasses s;
  for (unsigned i = 0; i < kStep; ++i) {
    const std::uint16_t classes = kClassTable[static_cast<unsigned char>(text[i])];
    for (unsigned k = 0; k < kByteClasses; ++k)
      s.bits[k] |= std::uint64_t{(classes >> k) & 1u} << i;
  }
  return s;
}

inline void transform(const char* source, char* target, std::uint16_t upper, std::uint16_t space) {
  for (unsigned k = 0; k < kBlock; ++k) {
    char b = source[k];
    if ((upper >> k) & 1u) b = char_class::to_upper(b);
    if ((space >> k) & 1u) b = ' ';
    target[k] = b;
  }
}

}  // namespace portable

namespace detail {

// The bytes of `groups` groups of 8 that `keep` marks (one byte of marks per group, bit i for byte
// i), the first and last group keeping only the bytes of `first` and `last` (one group: both), by
// `gather`, which writes the kept bytes of one group.
template <typename Gather>
[[gnu::always_inline]] inline char* compress_range_by(Gather gather, const char* source,
                                                      const std::uint8_t* keep, std::size_t groups,
                                                      std::uint8_t first, std::uint8_t last,
                                                      char* out) {
  if (groups == 1) return gather(source, static_cast<std::uint8_t>(keep[0] & first & last), out);
  out = gather(source, static_cast<std::uint8_t>(keep[0] & first), out);
  for (std::size_t g = 1; g + 1 < groups; ++g)
    out = gather(source + g * kGroup, keep[g], out);
  return gather(source + (groups - 1) * kGroup, static_cast<std::uint8_t>(keep[groups - 1] & last),
                out);
}

// The same, writing a CR before each kept byte marked in `ends` (a LF).
template <typename Gather>
[[gnu::always_inline]] inline char* compress_lines_by(Gather gather, const char* source,
                                                      const std::uint8_t* keep,
                                                      const std::uint8_t* ends, std::size_t groups,
                                                      std::uint8_t first, std::uint8_t last,
                                                      char* out) {
  for (std::size_t g = 0; g < groups; ++g, source += kGroup) {
    auto m = keep[g];
    if (g == 0) m &= first;
    if (g + 1 == groups) m &= last;
    for (auto e = static_cast<std::uint8_t>(ends[g] & m); e != 0; e &= e - 1) {
      const auto before = static_cast<std::uint8_t>(mask::below_lowest(e));
      out = gather(source, static_cast<std::uint8_t>(m & before), out);
      *out++ = '\r';
      m &= static_cast<std::uint8_t>(~before);
    }
    out = gather(source, m, out);
  }
  return out;
}

}  // namespace detail

#if defined(VORPEX_SIMD_SSE2)

namespace detail {

// 0xFF in byte i when bit i of `mask` is set.
inline __m128i expand(std::uint16_t mask) {
  __m128i v = _mm_cvtsi32_si128(mask);
  v = _mm_unpacklo_epi8(v, v);   // b0 b0 b1 b1 ...
  v = _mm_unpacklo_epi16(v, v);  // b0 x4, b1 x4, ...
  v = _mm_unpacklo_epi32(v, v);  // b0 x8, b1 x8
  const __m128i select = _mm_set_epi8(-128, 64, 32, 16, 8, 4, 2, 1, -128, 64, 32, 16, 8, 4, 2, 1);
  return _mm_cmpeq_epi8(_mm_and_si128(v, select), select);
}
// The bytes a-z, the only ones that upper-casing changes.
inline __m128i lower_case(__m128i v) {
  return _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8('a' - 1)),
                       _mm_cmplt_epi8(v, _mm_set1_epi8('z' + 1)));
}

inline std::size_t find_either_sse2(const char* text, std::size_t n, char a, char b) {
  const __m128i va = _mm_set1_epi8(a);
  const __m128i vb = _mm_set1_epi8(b);
  return find_first(text, n, [&](const char* block) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
    return static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, va), _mm_cmpeq_epi8(v, vb))));
  });
}

inline std::uint64_t mark_either_sse2(const char* text, char a, char b) {
  const __m128i va = _mm_set1_epi8(a);
  const __m128i vb = _mm_set1_epi8(b);
  std::uint64_t marks = 0;
  for (unsigned k = 0; k < kMarked; k += kBlock) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + k));
    const auto h = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, va), _mm_cmpeq_epi8(v, vb))));
    marks |= std::uint64_t{h} << k;
  }
  return marks;
}

// Compiled for AVX2, which is not part of the x86-64 baseline: taken only where the processor has
// it.
__attribute__((target("avx2"))) inline std::uint64_t mark_either_avx2(const char* text, char a,
                                                                      char b) {
  const __m256i va = _mm256_set1_epi8(a);
  const __m256i vb = _mm256_set1_epi8(b);
  std::uint64_t marks = 0;
  for (unsigned k = 0; k < kMarked; k += 2 * kBlock) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + k));
    const auto h = static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_or_si256(_mm256_cmpeq_epi8(v, va), _mm256_cmpeq_epi8(v, vb))));
    marks |= std::uint64_t{h} << k;
  }
  return marks;
}

// The classes of 16 bytes by the nibble tables, with SSSE3's byte shuffle. (Lambdas would not take
// the function's target, so the classes are unfolded by templates.)
template <unsigned K>
__attribute__((target("ssse3"))) inline std::uint64_t class_ssse3(const __m128i (&looked_up)[2]) {
  constexpr std::uint8_t bits = kNibbleTables.bits[K];
  const __m128i v = looked_up[kNibbleTables.half[K]];
  if constexpr ((bits & (bits - 1)) == 0) {
    // One bit: moved to the top of each byte, where the byte's mark is taken from.
    return static_cast<std::uint16_t>(
        _mm_movemask_epi8(_mm_slli_epi16(v, 7 - std::countr_zero(bits))));
  } else {
    const __m128i none = _mm_cmpeq_epi8(_mm_and_si128(v, _mm_set1_epi8(static_cast<char>(bits))),
                                        _mm_setzero_si128());
    return static_cast<std::uint16_t>(~_mm_movemask_epi8(none));
  }
}
template <std::size_t... K>
__attribute__((target("ssse3"))) inline void classify_ssse3(const char* text, unsigned offset,
                                                            StepClasses& s,
                                                            std::index_sequence<K...>) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + offset));
  const __m128i nibble = _mm_set1_epi8(0x0F);
  const __m128i lo = _mm_and_si128(v, nibble);
  const __m128i hi = _mm_and_si128(_mm_srli_epi16(v, 4), nibble);
  const auto table = [](const std::array<std::uint8_t, 16>& t) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(t.data()));
  };
  const __m128i looked_up[2] = {_mm_and_si128(_mm_shuffle_epi8(table(kNibbleTables.lo[0]), lo),
                                              _mm_shuffle_epi8(table(kNibbleTables.hi[0]), hi)),
                                _mm_and_si128(_mm_shuffle_epi8(table(kNibbleTables.lo[1]), lo),
                                              _mm_shuffle_epi8(table(kNibbleTables.hi[1]), hi))};
  ((s.bits[K] |= class_ssse3<K>(looked_up) << offset), ...);
}
__attribute__((target("ssse3"))) inline StepClasses classify_step_ssse3(const char* text) {
  StepClasses s;
  for (unsigned k = 0; k < kStep; k += kBlock)
    classify_ssse3(text, k, s, std::make_index_sequence<kByteClasses>{});
  return s;
}

// The same for 32 bytes with AVX2.
template <unsigned K>
__attribute__((target("avx2"))) inline std::uint64_t class_avx2(const __m256i (&looked_up)[2]) {
  constexpr std::uint8_t bits = kNibbleTables.bits[K];
  const __m256i v = looked_up[kNibbleTables.half[K]];
  if constexpr ((bits & (bits - 1)) == 0) {
    return static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_slli_epi16(v, 7 - std::countr_zero(bits))));
  } else {
    const __m256i none = _mm256_cmpeq_epi8(
        _mm256_and_si256(v, _mm256_set1_epi8(static_cast<char>(bits))), _mm256_setzero_si256());
    return static_cast<std::uint32_t>(~_mm256_movemask_epi8(none));
  }
}
template <std::size_t... K>
__attribute__((target("avx2"))) inline void classify_avx2(const char* text, unsigned offset,
                                                          StepClasses& s,
                                                          std::index_sequence<K...>) {
  const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + offset));
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  const __m256i lo = _mm256_and_si256(v, nibble);
  const __m256i hi = _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble);
  const __m256i lo0 = _mm256_broadcastsi128_si256(
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(kNibbleTables.lo[0].data())));
  const __m256i hi0 = _mm256_broadcastsi128_si256(
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(kNibbleTables.hi[0].data())));
  const __m256i lo1 = _mm256_broadcastsi128_si256(
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(kNibbleTables.lo[1].data())));
  const __m256i hi1 = _mm256_broadcastsi128_si256(
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(kNibbleTables.hi[1].data())));
  const __m256i looked_up[2] = {
      _mm256_and_si256(_mm256_shuffle_epi8(lo0, lo), _mm256_shuffle_epi8(hi0, hi)),
      _mm256_and_si256(_mm256_shuffle_epi8(lo1, lo), _mm256_shuffle_epi8(hi1, hi))};
  ((s.bits[K] |= class_avx2<K>(looked_up) << offset), ...);
}
__attribute__((target("avx2"))) inline StepClasses classify_step_avx2(const char* text) {
  StepClasses s;
  classify_avx2(text, 0, s, std::make_index_sequence<kByteClasses>{});
  classify_avx2(text, 32, s, std::make_index_sequence<kByteClasses>{});
  return s;
}

// 0xFF in byte i when bit i of `mask` is set, for 32 bytes.
__attribute__((target("avx2"))) inline __m256i expand_avx2(std::uint32_t mask) {
  const __m256i spread =
      _mm256_shuffle_epi8(_mm256_set1_epi32(static_cast<int>(mask)),
                          _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2,
                                           2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3));
  const __m256i select = _mm256_set1_epi64x(static_cast<long long>(0x8040201008040201ull));
  return _mm256_cmpeq_epi8(_mm256_and_si256(spread, select), select);
}

// `transform` for the 64 bytes of a step.
__attribute__((target("avx2"))) inline void transform_step_avx2(const char* source, char* target,
                                                                std::uint64_t upper,
                                                                std::uint64_t space) {
  for (unsigned k = 0; k < kStep; k += 32) {
    __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + k));
    const __m256i lower = _mm256_and_si256(_mm256_cmpgt_epi8(v, _mm256_set1_epi8('a' - 1)),
                                           _mm256_cmpgt_epi8(_mm256_set1_epi8('z' + 1), v));
    const __m256i flip = _mm256_and_si256(
        _mm256_and_si256(lower, expand_avx2(static_cast<std::uint32_t>(upper >> k))),
        _mm256_set1_epi8(0x20));
    v = _mm256_xor_si256(v, flip);
    v = _mm256_blendv_epi8(v, _mm256_set1_epi8(' '),
                           expand_avx2(static_cast<std::uint32_t>(space >> k)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(target + k), v);
  }
}

#if defined(__x86_64__)
// mask::prefix_xor() by a carry-less multiply by all ones.
__attribute__((target("pclmul"))) inline std::uint64_t prefix_xor_clmul(std::uint64_t m) {
  const __m128i product =
      _mm_clmulepi64_si128(_mm_cvtsi64_si128(static_cast<long long>(m)), _mm_set1_epi8(-1), 0);
  return static_cast<std::uint64_t>(_mm_cvtsi128_si64(product));
}
#endif

}  // namespace detail

// Whether the code that works a whole window with AVX2 may also take BMI1 and BMI2 (ANDN, BLSR,
// TZCNT, SHLX) and the carry-less multiply (the strings' prefix XOR): compiled for them all, it
// runs only where all are. Not on Windows, whose
// stack is aligned to 16 bytes only, where the compiler may spill 32-byte registers with aligned
// moves: there the window is worked at the Sse2 level, as classify_step() does for Avx2.
inline bool window_avx2() {
#if defined(_WIN32)
  return false;
#else
  return detail::kFeatures.avx2 && detail::kFeatures.bmi && detail::kFeatures.clmul;
#endif
}

// The index of the first byte of text[0, n) that is `a` or `b`, or n when there is none. Reads
// whole blocks, up to 15 bytes past text + n, whose values never matter.
inline std::size_t find_either(const char* text, std::size_t n, char a, char b,
                               Level level = kBest) {
  if (level == Level::Portable) return portable::find_either(text, n, a, b);
  return detail::find_either_sse2(text, n, a, b);
}

// Bit i set when byte i of text[0, kMarked) is `a` or `b`. Reads those bytes only.
inline std::uint64_t mark_either(const char* text, char a, char b, Level level = kBest) {
  if (level == Level::Avx2) return detail::mark_either_avx2(text, a, b);
  if (level == Level::Portable) return portable::mark_either(text, a, b);
  return detail::mark_either_sse2(text, a, b);
}

// The classes of the 64 bytes at `text`.
inline StepClasses classify_step(const char* text, Level level = kBest) {
#if !defined(_WIN32)
  if (level == Level::Avx2) return detail::classify_step_avx2(text);
#endif
  if (level == Level::Portable || !detail::kFeatures.ssse3) return portable::classify_step(text);
  return detail::classify_step_ssse3(text);
}

// Copies a block from `source` to `target`, upper-casing a-z in the bytes marked in `upper` and
// writing a space for the bytes marked in `space`.
inline void transform(const char* source, char* target, std::uint16_t upper, std::uint16_t space) {
  __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source));
  const __m128i flip = _mm_and_si128(_mm_and_si128(detail::lower_case(v), detail::expand(upper)),
                                     _mm_set1_epi8(0x20));
  v = _mm_xor_si128(v, flip);
  const __m128i blank = detail::expand(space);
  v = _mm_or_si128(_mm_andnot_si128(blank, v), _mm_and_si128(blank, _mm_set1_epi8(' ')));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(target), v);
}

namespace detail {

// The kept bytes of a group by SSSE3's byte shuffle, which is not part of the x86-64 baseline:
// taken only where the processor has it.
__attribute__((target("ssse3"))) inline char* gather_ssse3(const char* source, std::uint8_t keep,
                                                           char* out) {
  const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(source));
  const __m128i order =
      _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kGroupTable.positions[keep].data()));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(bytes, order));
  return out + kGroupTable.count[keep];
}
struct GatherSsse3 {
  [[gnu::always_inline]] char* operator()(const char* source, std::uint8_t keep, char* out) const {
    return gather_ssse3(source, keep, out);
  }
};
__attribute__((target("ssse3"))) inline char* compress_range_ssse3(const char* source,
                                                                   const std::uint8_t* keep,
                                                                   std::size_t groups,
                                                                   std::uint8_t first,
                                                                   std::uint8_t last, char* out) {
  return compress_range_by(GatherSsse3{}, source, keep, groups, first, last, out);
}
__attribute__((target("ssse3"))) inline char* compress_lines_ssse3(
    const char* source, const std::uint8_t* keep, const std::uint8_t* ends, std::size_t groups,
    std::uint8_t first, std::uint8_t last, char* out) {
  return compress_lines_by(GatherSsse3{}, source, keep, ends, groups, first, last, out);
}

}  // namespace detail

#elif defined(VORPEX_SIMD_NEON)

namespace detail {

inline std::uint16_t bits(uint8x16_t v) {
  // Bit i of each byte lane, then the two halves summed across.
  const uint8x16_t select = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
  const uint8x16_t picked = vandq_u8(v, select);
#if defined(__aarch64__)
  return static_cast<std::uint16_t>(vaddv_u8(vget_low_u8(picked)) |
                                    (vaddv_u8(vget_high_u8(picked)) << 8));
#else
  // 32-bit ARM has no sum across a vector: three pairwise sums leave the low half's in lane 0 and
  // the high half's in lane 1.
  uint8x8_t sum = vpadd_u8(vget_low_u8(picked), vget_high_u8(picked));
  sum = vpadd_u8(sum, sum);
  sum = vpadd_u8(sum, sum);
  return vget_lane_u16(vreinterpret_u16_u8(sum), 0);
#endif
}
inline uint8x16_t expand(std::uint16_t mask) {
  const uint8x16_t select = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
  const uint8x16_t v = vcombine_u8(vdup_n_u8(static_cast<std::uint8_t>(mask)),
                                   vdup_n_u8(static_cast<std::uint8_t>(mask >> 8)));
  return vtstq_u8(v, select);
}
// The entries of a table of 16 bytes for each index below 16.
inline uint8x16_t look_up(const std::array<std::uint8_t, 16>& table, uint8x16_t index) {
#if defined(__aarch64__)
  return vqtbl1q_u8(vld1q_u8(table.data()), index);
#else
  const uint8x8x2_t t = {{vld1_u8(table.data()), vld1_u8(table.data() + 8)}};
  return vcombine_u8(vtbl2_u8(t, vget_low_u8(index)), vtbl2_u8(t, vget_high_u8(index)));
#endif
}
inline void classify_neon(const char* text, unsigned offset, StepClasses& s) {
  const uint8x16_t v = vld1q_u8(reinterpret_cast<const std::uint8_t*>(text + offset));
  const uint8x16_t lo = vandq_u8(v, vdupq_n_u8(0x0F));
  const uint8x16_t hi = vshrq_n_u8(v, 4);
  const uint8x16_t looked_up[2] = {
      vandq_u8(look_up(kNibbleTables.lo[0], lo), look_up(kNibbleTables.hi[0], hi)),
      vandq_u8(look_up(kNibbleTables.lo[1], lo), look_up(kNibbleTables.hi[1], hi))};
  for (unsigned k = 0; k < kByteClasses; ++k) {
    const uint8x16_t in =
        vtstq_u8(looked_up[kNibbleTables.half[k]], vdupq_n_u8(kNibbleTables.bits[k]));
    s.bits[k] |= std::uint64_t{bits(in)} << offset;
  }
}
struct GatherNeon {
  char* operator()(const char* source, std::uint8_t keep, char* out) const {
    const uint8x8_t bytes = vld1_u8(reinterpret_cast<const std::uint8_t*>(source));
    const uint8x8_t order = vld1_u8(kGroupTable.positions[keep].data());
    vst1_u8(reinterpret_cast<std::uint8_t*>(out), vtbl1_u8(bytes, order));
    return out + kGroupTable.count[keep];
  }
};

}  // namespace detail

inline std::size_t find_either(const char* text, std::size_t n, char a, char b,
                               Level level = kBest) {
  if (level == Level::Portable) return portable::find_either(text, n, a, b);
  return detail::find_first(text, n, [&](const char* block) {
    const uint8x16_t v = vld1q_u8(reinterpret_cast<const std::uint8_t*>(block));
    return static_cast<unsigned>(
        detail::bits(vorrq_u8(vceqq_u8(v, vdupq_n_u8(static_cast<std::uint8_t>(a))),
                              vceqq_u8(v, vdupq_n_u8(static_cast<std::uint8_t>(b))))));
  });
}

inline std::uint64_t mark_either(const char* text, char a, char b, Level level = kBest) {
  if (level == Level::Portable) return portable::mark_either(text, a, b);
  const uint8x16_t va = vdupq_n_u8(static_cast<std::uint8_t>(a));
  const uint8x16_t vb = vdupq_n_u8(static_cast<std::uint8_t>(b));
  std::uint64_t marks = 0;
  for (unsigned k = 0; k < kMarked; k += kBlock) {
    const uint8x16_t v = vld1q_u8(reinterpret_cast<const std::uint8_t*>(text + k));
    marks |= std::uint64_t{detail::bits(vorrq_u8(vceqq_u8(v, va), vceqq_u8(v, vb)))} << k;
  }
  return marks;
}

inline StepClasses classify_step(const char* text, Level level = kBest) {
  if (level == Level::Portable) return portable::classify_step(text);
  StepClasses s;
  for (unsigned k = 0; k < kStep; k += kBlock)
    detail::classify_neon(text, k, s);
  return s;
}

inline void transform(const char* source, char* target, std::uint16_t upper, std::uint16_t space) {
  uint8x16_t v = vld1q_u8(reinterpret_cast<const std::uint8_t*>(source));
  const uint8x16_t lower = vcleq_u8(vsubq_u8(v, vdupq_n_u8('a')), vdupq_n_u8('z' - 'a'));
  v = veorq_u8(v, vandq_u8(vandq_u8(lower, detail::expand(upper)), vdupq_n_u8(0x20)));
  v = vbslq_u8(detail::expand(space), vdupq_n_u8(' '), v);
  vst1q_u8(reinterpret_cast<std::uint8_t*>(target), v);
}

#else

inline StepClasses classify_step(const char* text, Level = kBest) {
  return portable::classify_step(text);
}
using portable::transform;

inline std::size_t find_either(const char* text, std::size_t n, char a, char b, Level = kBest) {
  return portable::find_either(text, n, a, b);
}
inline std::uint64_t mark_either(const char* text, char a, char b, Level = kBest) {
  return portable::mark_either(text, a, b);
}

#endif

// Writes the bytes of `groups` groups of 8 (at least one) from `source` that are marked in `keep`
// (one byte of marks per group, bit i for byte i) at `out`, in order, the first and last group
// keeping only the bytes of `first` and `last` (one group: both); returns the new end. Writes up to
// 8 bytes past it.
inline char* compress_range(const char* source, const std::uint8_t* keep, std::size_t groups,
                            std::uint8_t first, std::uint8_t last, char* out) {
#if defined(VORPEX_SIMD_SSE2)
  if (detail::kFeatures.ssse3)
    return detail::compress_range_ssse3(source, keep, groups, first, last, out);
#elif defined(VORPEX_SIMD_NEON)
  return detail::compress_range_by(detail::GatherNeon{}, source, keep, groups, first, last, out);
#endif
  return detail::compress_range_by(portable::Gather{}, source, keep, groups, first, last, out);
}

// The same, writing each kept byte marked in `ends` (a LF) after a CR.
inline char* compress_lines(const char* source, const std::uint8_t* keep, const std::uint8_t* ends,
                            std::size_t groups, std::uint8_t first, std::uint8_t last, char* out) {
#if defined(VORPEX_SIMD_SSE2)
  if (detail::kFeatures.ssse3)
    return detail::compress_lines_ssse3(source, keep, ends, groups, first, last, out);
#elif defined(VORPEX_SIMD_NEON)
  return detail::compress_lines_by(detail::GatherNeon{}, source, keep, ends, groups, first, last,
                                   out);
#endif
  return detail::compress_lines_by(portable::Gather{}, source, keep, ends, groups, first, last,
                                   out);
}

}  // namespace vorpex::simd

#pragma once

// The data-parallel primitives of the fast path, for one block of 16 bytes or one step of 64 at a
// time (and, for AVX2, the step's transform and the window's whole pass): SSE2
// on x86-64 (its baseline) and on 32-bit x86 built for it (-msse2), NEON on AArch64 and on 32-bit
// ARM built for it (-mfpu=neon), plain table lookups everywhere else, each build taking what its
// compiler may use; and the text reader's marks of the line ends, 64 bytes a step, which also come
// for AVX2 (32 bytes an instruction), taken where the processor has it: it is found at start-up,
// and the binary itself needs no more than the baseline. Every other file sees only the functions
// below, never an intrinsic.

#include <array>
#include <cstddef>
#include <cstdint>

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
inline constexpr std::size_t kGroup = 8;    // the bytes compress() takes at a time
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

// One bit per byte of a block, bit i for byte i.
struct BlockClasses {
  std::uint16_t blank = 0;       // space, TAB
  std::uint16_t op = 0;          // the operators other than the apostrophe
  std::uint16_t apostrophe = 0;  // '
  std::uint16_t quote = 0;       // "
  std::uint16_t letter = 0;      // A-Z a-z
  std::uint16_t digit = 0;       // 0-9
  std::uint16_t control = 0;     // 0x00-0x1F but TAB, and 0x80-0xFF
  // R and D in either case: where REM and DEFINE may begin.
  std::uint16_t r = 0, d = 0;
  std::uint16_t lf = 0, cr = 0;  // the line ends, also among the control bytes
};

// The same classes for a step of 64 bytes, bit i for byte i.
inline constexpr std::size_t kStep = 64;
struct StepClasses {
  std::uint64_t blank = 0, op = 0, apostrophe = 0, quote = 0, letter = 0, digit = 0, control = 0,
                rd = 0, lf = 0, cr = 0;  // rd: R and D in either case

  // Takes the classes of the block at byte `offset` of the step.
  void add(const BlockClasses& c, unsigned offset) {
    blank |= std::uint64_t{c.blank} << offset;
    op |= std::uint64_t{c.op} << offset;
    apostrophe |= std::uint64_t{c.apostrophe} << offset;
    quote |= std::uint64_t{c.quote} << offset;
    letter |= std::uint64_t{c.letter} << offset;
    digit |= std::uint64_t{c.digit} << offset;
    control |= std::uint64_t{c.control} << offset;
    rd |= std::uint64_t{static_cast<std::uint16_t>(c.r | c.d)} << offset;
    lf |= std::uint64_t{c.lf} << offset;
    cr |= std::uint64_t{c.cr} << offset;
  }
  friend bool operator==(const StepClasses&, const StepClasses&) = default;
};

// The instruction sets that the line-end scans come in, narrowest first; every variant gives the
// same results. The widest one that the processor runs is found once (kBest) and taken unless a
// caller names another: the tests and the differential fuzzer run each one that the machine runs.
// The block primitives of the fast line path use the build's own (SSE2, NEON or portable).
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
  bool avx2 = false;  // the instructions, and the system saves the YMM registers
  bool bmi = false;   // BMI1 and BMI2, which every processor with AVX2 we know of has too
};
inline const Features kFeatures = [] {
  Features f;
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  __cpuid(1, eax, ebx, ecx, edx);  // leaf 1 is there on every x86-64
  f.ssse3 = (ecx & bit_SSSE3) != 0;
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

// The kept bytes of each group of 8, gathered one by one.
inline char* compress(const char* source, const std::uint8_t* keep, std::size_t groups, char* out) {
  for (std::size_t g = 0; g < groups; ++g, source += kGroup) {
    const auto& positions = kGroupTable.positions[keep[g]];
    for (std::size_t k = 0; k < kGroup; ++k)
      out[k] = source[positions[k]];
    out += kGroupTable.count[keep[g]];
  }
  return out;
}

// The same for a range of groups whose first and last group keep only the bytes of `first` and
// `last` (one group: both).
inline char* compress_range(const char* source, const std::uint8_t* keep, std::size_t groups,
                            std::uint8_t first, std::uint8_t last, char* out) {
  for (std::size_t g = 0; g < groups; ++g, source += kGroup) {
    std::uint8_t m = keep[g];
    if (g == 0) m &= first;
    if (g + 1 == groups) m &= last;
    const auto& positions = kGroupTable.positions[m];
    for (std::size_t k = 0; k < kGroup; ++k)
      out[k] = source[positions[k]];
    out += kGroupTable.count[m];
  }
  return out;
}

// The same, writing each kept byte marked in `ends` (a LF) after a CR.
inline char* compress_lines(const char* source, const std::uint8_t* keep, const std::uint8_t* ends,
                            std::size_t groups, std::uint8_t first, std::uint8_t last, char* out) {
  for (std::size_t g = 0; g < groups; ++g, source += kGroup) {
    std::uint8_t m = keep[g];
    if (g == 0) m &= first;
    if (g + 1 == groups) m &= last;
    for (std::size_t k = 0; k < kGroup; ++k) {
      if (((m >> k) & 1) == 0) continue;
      if (((ends[g] >> k) & 1) != 0) *out++ = '\r';
      *out++ = source[k];
    }
  }
  return out;
}

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

inline BlockClasses classify(const char* block) {
  BlockClasses c;
  for (unsigned k = 0; k < kBlock; ++k) {
    const auto b = static_cast<unsigned char>(block[k]);
    const std::uint8_t cls = char_class::kTable[b];
    const auto bit = static_cast<std::uint16_t>(1u << k);
    const auto set = [&](std::uint16_t& mask, bool on) {
      if (on) mask = static_cast<std::uint16_t>(mask | bit);
    };
    const unsigned folded = b | 0x20u;
    set(c.blank, cls & char_class::kBlank);
    set(c.op, (cls & char_class::kOperator) && b != '\'');
    set(c.apostrophe, b == '\'');
    set(c.quote, b == '"');
    set(c.letter, cls & char_class::kLetter);
    set(c.digit, cls & char_class::kDigit);
    set(c.control, (b < 0x20 && b != '\t') || b >= 0x80);
    set(c.r, folded == 'r');
    set(c.d, folded == 'd');
    set(c.lf, b == '\n');
    set(c.cr, b == '\r');
  }
  return c;
}

inline StepClasses classify_step(const char* text) {
  StepClasses s;
  for (unsigned k = 0; k < kStep; k += kBlock)
    s.add(classify(text + k), k);
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

#if defined(VORPEX_SIMD_SSE2)

namespace detail {

inline std::uint16_t bits(__m128i v) {
  return static_cast<std::uint16_t>(_mm_movemask_epi8(v));
}
inline __m128i splat(char c) {
  return _mm_set1_epi8(c);
}
// Bytes in [lo, hi], both below 0x80 (the comparison is signed, so 0x80-0xFF never match).
inline __m128i in_range(__m128i v, char lo, char hi) {
  return _mm_and_si128(_mm_cmpgt_epi8(v, splat(static_cast<char>(lo - 1))),
                       _mm_cmplt_epi8(v, splat(static_cast<char>(hi + 1))));
}
// 0xFF in byte i when bit i of `mask` is set.
inline __m128i expand(std::uint16_t mask) {
  __m128i v = _mm_cvtsi32_si128(mask);
  v = _mm_unpacklo_epi8(v, v);   // b0 b0 b1 b1 ...
  v = _mm_unpacklo_epi16(v, v);  // b0 x4, b1 x4, ...
  v = _mm_unpacklo_epi32(v, v);  // b0 x8, b1 x8
  const __m128i select = _mm_set_epi8(-128, 64, 32, 16, 8, 4, 2, 1, -128, 64, 32, 16, 8, 4, 2, 1);
  return _mm_cmpeq_epi8(_mm_and_si128(v, select), select);
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

}  // namespace detail

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

inline BlockClasses classify(const char* block) {
  using detail::bits;
  using detail::in_range;
  using detail::splat;
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
  const auto eq = [&](char c) { return _mm_cmpeq_epi8(v, splat(c)); };
  const __m128i folded = _mm_or_si128(v, splat(0x20));  // A-Z to a-z
  const __m128i tab = eq('\t');
  BlockClasses c;
  c.blank = bits(_mm_or_si128(eq(' '), tab));
  // % & ( ) * + , - / lie in 0x25-0x2F with ' and . between them; ; < = > in 0x3B-0x3E; and |.
  const __m128i low_ops = _mm_andnot_si128(_mm_or_si128(eq('\''), eq('.')), in_range(v, '%', '/'));
  c.op = bits(_mm_or_si128(_mm_or_si128(low_ops, in_range(v, ';', '>')), eq('|')));
  c.apostrophe = bits(eq('\''));
  c.quote = bits(eq('"'));
  c.letter = bits(in_range(folded, 'a', 'z'));
  c.digit = bits(in_range(v, '0', '9'));
  c.control = bits(_mm_andnot_si128(tab, _mm_cmplt_epi8(v, splat(0x20))));
  c.r = bits(_mm_cmpeq_epi8(folded, splat('r')));
  c.d = bits(_mm_cmpeq_epi8(folded, splat('d')));
  c.lf = bits(eq('\n'));
  c.cr = bits(eq('\r'));
  return c;
}

namespace detail {

// The classes of 32 bytes, as `classify` finds them 16 at a time. (Lambdas would not take the
// function's target, so every step is written out.)
__attribute__((target("avx2"))) inline std::uint64_t bits_avx2(__m256i x, unsigned offset) {
  return std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(x))} << offset;
}
__attribute__((target("avx2"))) inline __m256i in_range_avx2(__m256i x, char lo, char hi) {
  return _mm256_and_si256(_mm256_cmpgt_epi8(x, _mm256_set1_epi8(static_cast<char>(lo - 1))),
                          _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(hi + 1)), x));
}
__attribute__((target("avx2"))) inline void classify_avx2(const char* text, unsigned offset,
                                                          StepClasses& s) {
  const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + offset));
  const __m256i folded = _mm256_or_si256(v, _mm256_set1_epi8(0x20));
  const __m256i tab = _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\t'));
  const __m256i apostrophe = _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\''));
  s.blank |= bits_avx2(_mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(' ')), tab), offset);
  const __m256i low_ops =
      _mm256_andnot_si256(_mm256_or_si256(apostrophe, _mm256_cmpeq_epi8(v, _mm256_set1_epi8('.'))),
                          in_range_avx2(v, '%', '/'));
  s.op |= bits_avx2(_mm256_or_si256(_mm256_or_si256(low_ops, in_range_avx2(v, ';', '>')),
                                    _mm256_cmpeq_epi8(v, _mm256_set1_epi8('|'))),
                    offset);
  s.apostrophe |= bits_avx2(apostrophe, offset);
  s.quote |= bits_avx2(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('"')), offset);
  s.letter |= bits_avx2(in_range_avx2(folded, 'a', 'z'), offset);
  s.digit |= bits_avx2(in_range_avx2(v, '0', '9'), offset);
  s.control |=
      bits_avx2(_mm256_andnot_si256(tab, _mm256_cmpgt_epi8(_mm256_set1_epi8(0x20), v)), offset);
  s.rd |= bits_avx2(_mm256_or_si256(_mm256_cmpeq_epi8(folded, _mm256_set1_epi8('r')),
                                    _mm256_cmpeq_epi8(folded, _mm256_set1_epi8('d'))),
                    offset);
  s.lf |= bits_avx2(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('\n')), offset);
  s.cr |= bits_avx2(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('\r')), offset);
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
    const __m256i lower = in_range_avx2(v, 'a', 'z');
    const __m256i flip = _mm256_and_si256(
        _mm256_and_si256(lower, expand_avx2(static_cast<std::uint32_t>(upper >> k))),
        _mm256_set1_epi8(0x20));
    v = _mm256_xor_si256(v, flip);
    v = _mm256_blendv_epi8(v, _mm256_set1_epi8(' '),
                           expand_avx2(static_cast<std::uint32_t>(space >> k)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(target + k), v);
  }
}

__attribute__((target("avx2"))) inline StepClasses classify_step_avx2(const char* text) {
  StepClasses s;
  classify_avx2(text, 0, s);
  classify_avx2(text, 32, s);
  return s;
}

}  // namespace detail

// Whether the code that works a whole window with AVX2 may also take BMI1 and BMI2 (ANDN, BLSR,
// TZCNT, SHLX): compiled for the three, it runs only where all three are.
// Not on Windows, whose stack is aligned to 16 bytes only, where the compiler may spill 32-byte
// registers with aligned moves: there the window is classified with SSE2.
inline bool window_avx2() {
#if defined(_WIN32)
  return false;
#else
  return detail::kFeatures.avx2 && detail::kFeatures.bmi;
#endif
}

// The classes of the 64 bytes at `text`.
inline StepClasses classify_step(const char* text, Level level = kBest) {
#if !defined(_WIN32)
  if (level == Level::Avx2) return detail::classify_step_avx2(text);
#endif
  if (level == Level::Portable) return portable::classify_step(text);
  StepClasses s;
  for (unsigned k = 0; k < kStep; k += kBlock)
    s.add(classify(text + k), k);
  return s;
}

// Copies a block from `source` to `target`, upper-casing a-z in the bytes marked in `upper` and
// writing a space for the bytes marked in `space`.
inline void transform(const char* source, char* target, std::uint16_t upper, std::uint16_t space) {
  __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source));
  const __m128i lower = detail::in_range(v, 'a', 'z');
  const __m128i flip =
      _mm_and_si128(_mm_and_si128(lower, detail::expand(upper)), detail::splat(0x20));
  v = _mm_xor_si128(v, flip);
  const __m128i blank = detail::expand(space);
  v = _mm_or_si128(_mm_andnot_si128(blank, v), _mm_and_si128(blank, detail::splat(' ')));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(target), v);
}

namespace detail {

// SSSE3 is not part of the x86-64 baseline: this is taken only where the processor has it.
__attribute__((target("ssse3"))) inline char* compress_ssse3(const char* source,
                                                             const std::uint8_t* keep,
                                                             std::size_t groups, char* out) {
  for (std::size_t g = 0; g < groups; ++g, source += kGroup) {
    const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(source));
    const __m128i order =
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kGroupTable.positions[keep[g]].data()));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(bytes, order));
    out += kGroupTable.count[keep[g]];
  }
  return out;
}

}  // namespace detail

namespace detail {

__attribute__((target("ssse3"))) inline char* compress_group_ssse3(const char* source,
                                                                   std::uint8_t keep, char* out) {
  const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(source));
  const __m128i order =
      _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kGroupTable.positions[keep].data()));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(bytes, order));
  return out + kGroupTable.count[keep];
}

__attribute__((target("ssse3"))) inline char* compress_range_ssse3(const char* source,
                                                                   const std::uint8_t* keep,
                                                                   std::size_t groups,
                                                                   std::uint8_t first,
                                                                   std::uint8_t last, char* out) {
  if (groups == 1) return compress_group_ssse3(source, keep[0] & first & last, out);
  out = compress_group_ssse3(source, keep[0] & first, out);
  for (std::size_t g = 1; g + 1 < groups; ++g)
    out = compress_group_ssse3(source + g * kGroup, keep[g], out);
  return compress_group_ssse3(source + (groups - 1) * kGroup, keep[groups - 1] & last, out);
}

// A group with a kept LF: the bytes before each, its CR, and the LF with what follows.
__attribute__((target("ssse3"))) inline char* compress_ends_ssse3(const char* source,
                                                                  std::uint8_t keep,
                                                                  std::uint8_t ends, char* out) {
  for (; ends != 0; ends = static_cast<std::uint8_t>(ends & (ends - 1))) {
    const auto below = static_cast<std::uint8_t>((ends & -ends) - 1);
    out = compress_group_ssse3(source, keep & below, out);
    *out++ = '\r';
    keep = static_cast<std::uint8_t>(keep & ~below);
  }
  return compress_group_ssse3(source, keep, out);
}

__attribute__((target("ssse3"))) inline char* compress_lines_ssse3(
    const char* source, const std::uint8_t* keep, const std::uint8_t* ends, std::size_t groups,
    std::uint8_t first, std::uint8_t last, char* out) {
  for (std::size_t g = 0; g < groups; ++g, source += kGroup) {
    std::uint8_t m = keep[g];
    if (g == 0) m &= first;
    if (g + 1 == groups) m &= last;
    const auto e = static_cast<std::uint8_t>(ends[g] & m);
    out = e == 0 ? compress_group_ssse3(source, m, out) : compress_ends_ssse3(source, m, e, out);
  }
  return out;
}

}  // namespace detail

// Writes the bytes of `groups` groups of 8 from `source` that are marked in `keep` (one byte of
// marks per group, bit i for byte i) at `out`, in order; returns the new end. Writes up to 8 bytes
// past it.
inline char* compress(const char* source, const std::uint8_t* keep, std::size_t groups, char* out) {
  return detail::kFeatures.ssse3 ? detail::compress_ssse3(source, keep, groups, out)
                                 : portable::compress(source, keep, groups, out);
}

// The same for a range of groups (at least one) whose first and last group keep only the bytes of
// `first` and `last` (one group: both).
inline char* compress_range(const char* source, const std::uint8_t* keep, std::size_t groups,
                            std::uint8_t first, std::uint8_t last, char* out) {
  return detail::kFeatures.ssse3
             ? detail::compress_range_ssse3(source, keep, groups, first, last, out)
             : portable::compress_range(source, keep, groups, first, last, out);
}

// The same, writing each kept byte marked in `ends` (a LF) after a CR.
inline char* compress_lines(const char* source, const std::uint8_t* keep, const std::uint8_t* ends,
                            std::size_t groups, std::uint8_t first, std::uint8_t last, char* out) {
  return detail::kFeatures.ssse3
             ? detail::compress_lines_ssse3(source, keep, ends, groups, first, last, out)
             : portable::compress_lines(source, keep, ends, groups, first, last, out);
}

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
inline uint8x16_t in_range(uint8x16_t v, std::uint8_t lo, std::uint8_t hi) {
  return vcleq_u8(vsubq_u8(v, vdupq_n_u8(lo)), vdupq_n_u8(static_cast<std::uint8_t>(hi - lo)));
}
inline uint8x16_t expand(std::uint16_t mask) {
  const uint8x16_t select = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
  const uint8x16_t v = vcombine_u8(vdup_n_u8(static_cast<std::uint8_t>(mask)),
                                   vdup_n_u8(static_cast<std::uint8_t>(mask >> 8)));
  return vtstq_u8(v, select);
}

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

inline BlockClasses classify(const char* block) {
  using detail::bits;
  using detail::in_range;
  const uint8x16_t v = vld1q_u8(reinterpret_cast<const std::uint8_t*>(block));
  const auto eq = [&](char c) { return vceqq_u8(v, vdupq_n_u8(static_cast<std::uint8_t>(c))); };
  const uint8x16_t folded = vorrq_u8(v, vdupq_n_u8(0x20));
  const uint8x16_t tab = eq('\t');
  BlockClasses c;
  c.blank = bits(vorrq_u8(eq(' '), tab));
  const uint8x16_t low_ops = vbicq_u8(in_range(v, '%', '/'), vorrq_u8(eq('\''), eq('.')));
  c.op = bits(vorrq_u8(vorrq_u8(low_ops, in_range(v, ';', '>')), eq('|')));
  c.apostrophe = bits(eq('\''));
  c.quote = bits(eq('"'));
  c.letter = bits(in_range(folded, 'a', 'z'));
  c.digit = bits(in_range(v, '0', '9'));
  const uint8x16_t high = vcgeq_u8(v, vdupq_n_u8(0x80));
  c.control = bits(vbicq_u8(vorrq_u8(vcltq_u8(v, vdupq_n_u8(0x20)), high), tab));
  c.r = bits(vceqq_u8(folded, vdupq_n_u8('r')));
  c.d = bits(vceqq_u8(folded, vdupq_n_u8('d')));
  c.lf = bits(eq('\n'));
  c.cr = bits(eq('\r'));
  return c;
}

inline StepClasses classify_step(const char* text, Level level = kBest) {
  if (level == Level::Portable) return portable::classify_step(text);
  StepClasses s;
  for (unsigned k = 0; k < kStep; k += kBlock)
    s.add(classify(text + k), k);
  return s;
}

inline void transform(const char* source, char* target, std::uint16_t upper, std::uint16_t space) {
  uint8x16_t v = vld1q_u8(reinterpret_cast<const std::uint8_t*>(source));
  const uint8x16_t lower = detail::in_range(v, 'a', 'z');
  v = veorq_u8(v, vandq_u8(vandq_u8(lower, detail::expand(upper)), vdupq_n_u8(0x20)));
  v = vbslq_u8(detail::expand(space), vdupq_n_u8(' '), v);
  vst1q_u8(reinterpret_cast<std::uint8_t*>(target), v);
}

inline char* compress(const char* source, const std::uint8_t* keep, std::size_t groups, char* out) {
  for (std::size_t g = 0; g < groups; ++g, source += kGroup) {
    const uint8x8_t bytes = vld1_u8(reinterpret_cast<const std::uint8_t*>(source));
    const uint8x8_t order = vld1_u8(kGroupTable.positions[keep[g]].data());
    vst1_u8(reinterpret_cast<std::uint8_t*>(out), vtbl1_u8(bytes, order));
    out += kGroupTable.count[keep[g]];
  }
  return out;
}

using portable::compress_lines;

inline char* compress_range(const char* source, const std::uint8_t* keep, std::size_t groups,
                            std::uint8_t first, std::uint8_t last, char* out) {
  for (std::size_t g = 0; g < groups; ++g, source += kGroup) {
    std::uint8_t m = keep[g];
    if (g == 0) m &= first;
    if (g + 1 == groups) m &= last;
    const uint8x8_t bytes = vld1_u8(reinterpret_cast<const std::uint8_t*>(source));
    const uint8x8_t order = vld1_u8(kGroupTable.positions[m].data());
    vst1_u8(reinterpret_cast<std::uint8_t*>(out), vtbl1_u8(bytes, order));
    out += kGroupTable.count[m];
  }
  return out;
}

#else

using portable::classify;
inline StepClasses classify_step(const char* text, Level = kBest) {
  return portable::classify_step(text);
}
using portable::compress;
using portable::compress_lines;
using portable::compress_range;
using portable::transform;

inline std::size_t find_either(const char* text, std::size_t n, char a, char b, Level = kBest) {
  return portable::find_either(text, n, a, b);
}
inline std::uint64_t mark_either(const char* text, char a, char b, Level = kBest) {
  return portable::mark_either(text, a, b);
}

#endif

}  // namespace vorpex::simd

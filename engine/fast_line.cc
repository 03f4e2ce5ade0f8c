#include "engine/fast_line.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "engine/char_class.h"
#include "engine/simd.h"

namespace vorpex {

namespace {

// One bit per byte of the line, bit i for byte i.
__extension__ using Mask = unsigned __int128;
static_assert(FastLine::kMaxLength == 128, "one bit of a Mask per byte");

constexpr std::size_t kBlocks = FastLine::kMaxLength / simd::kBlock;
constexpr Mask kAll = ~Mask{0};

constexpr Mask below(std::size_t n) {
  return n >= 128 ? kAll : (Mask{1} << n) - 1;
}
constexpr std::uint64_t low_half(Mask m) {
  return static_cast<std::uint64_t>(m);
}
constexpr std::uint64_t high_half(Mask m) {
  return static_cast<std::uint64_t>(m >> 64);
}
// True when exactly one bit is set.
constexpr bool single(Mask m) {
  return m != 0 && (m & (m - 1)) == 0;
}
// The lowest set bit of a mask that is not 0.
constexpr std::size_t lowest(Mask m) {
  return low_half(m) != 0 ? static_cast<std::size_t>(std::countr_zero(low_half(m)))
                          : 64 + static_cast<std::size_t>(std::countr_zero(high_half(m)));
}
constexpr bool has(Mask m, std::size_t i) {
  return ((m >> i) & 1) != 0;
}
// Bit i set when byte i + k is in `m`, or lies past the mask's last byte.
constexpr Mask at_offset(Mask m, unsigned k) {
  return (m >> k) | ~(kAll >> k);
}
// Bit i is the parity of the bits 0..i of `m`: set from an opening quote up to its closing one.
constexpr Mask prefix_xor(Mask m) {
  for (unsigned shift = 1; shift < 128; shift *= 2)
    m ^= m << shift;
  return m;
}
// The bits of `runs` in the runs that begin at a bit of `starts` (each start a run's first bit).
constexpr Mask runs_from(Mask runs, Mask starts) {
  return runs & ~(runs + starts);
}
// The 16 bits of block `b`.
constexpr std::uint16_t block_bits(Mask m, std::size_t b) {
  return static_cast<std::uint16_t>(m >> (b * simd::kBlock));
}

// The bytes of [from, to) of `text` that are marked in `keep`, written at `out`; returns the new
// end. Writes one byte past that end.
inline char* compress(const char* text, Mask keep, std::size_t from, std::size_t to, char* out) {
  std::uint64_t bits = low_half(keep);
  std::size_t split = to < 64 ? to : 64;
  for (std::size_t i = from; i < split; ++i) {
    *out = text[i];
    out += (bits >> i) & 1;
  }
  bits = high_half(keep);
  for (std::size_t i = from > 64 ? from : 64; i < to; ++i) {
    *out = text[i];
    out += (bits >> (i - 64)) & 1;
  }
  return out;
}

// One 16-bit word per block for each class of bytes.
using Plane = std::array<std::uint16_t, kBlocks>;
struct Planes {
  Plane blank, op, apostrophe, quote, letter, digit, control, line_end, rem, define;
};

inline Mask to_mask(const Plane& plane) {
  if constexpr (std::endian::native == std::endian::little) {
    return std::bit_cast<Mask>(plane);
  } else {
    Mask m = 0;
    for (std::size_t b = 0; b < kBlocks; ++b)
      m |= Mask{plane[b]} << (b * simd::kBlock);
    return m;
  }
}

// A defined name at `start`, `length` bytes long, and its value. Left uninitialised until used.
struct Substitution {
  std::size_t start;
  std::size_t length;
  const char* value;
  std::size_t value_size;
};

}  // namespace

bool FastLine::convert(std::span<const char> line, SymbolTable& symbols, OutputBuffer& out) {
  const std::size_t n = line.size();
  if (n > kMaxLength) return false;
  const std::size_t blocks = (n + simd::kBlock - 1) / simd::kBlock;
  if (blocks == 0) return true;  // an empty line writes nothing
  // The line in whole blocks, NUL past its end and in the block after, so that no block (nor the
  // bytes the keyword test reads past it) is read past what it owns.
  alignas(16) char text[kMaxLength + simd::kBlock];
  alignas(16) char converted[kMaxLength];
  std::memset(text + (blocks - 1) * simd::kBlock, 0, 2 * simd::kBlock);
  std::memcpy(text, line.data(), n);

  Planes planes{};
  for (std::size_t b = 0; b < blocks; ++b) {
    const simd::BlockClasses c = simd::classify(text + b * simd::kBlock);
    planes.blank[b] = c.blank;
    planes.op[b] = c.op;
    planes.apostrophe[b] = c.apostrophe;
    planes.quote[b] = c.quote;
    planes.letter[b] = c.letter;
    planes.digit[b] = c.digit;
    planes.control[b] = c.control;
    planes.line_end[b] = c.line_end;
    planes.rem[b] = c.rem;
    planes.define[b] = c.define;
  }
  Mask blank = to_mask(planes.blank);
  const Mask op = to_mask(planes.op);
  const Mask apostrophe = to_mask(planes.apostrophe);
  Mask quote = to_mask(planes.quote);
  const Mask letter = to_mask(planes.letter);
  const Mask digit = to_mask(planes.digit);
  const Mask control = to_mask(planes.control);
  const Mask line_end = to_mask(planes.line_end);
  const Mask valid = below(n);
  blank &= valid;
  quote &= valid;

  // A line of blanks writes nothing, and so does a line whose first token is REM.
  const Mask nonblank = valid & ~blank;
  if (nonblank == 0) return true;
  const std::size_t first = lowest(nonblank);
  // Where a Number or Word ends; the bytes past the line count as its NUL.
  const Mask terminator = blank | op | apostrophe | line_end | ~valid;
  const Mask rem = to_mask(planes.rem) & at_offset(terminator, 3);
  if (has(rem, first)) return true;

  // Strings, from an opening quote to its closing one; the first apostrophe outside them begins
  // the comment, and the line ends there.
  const Mask inside = prefix_xor(quote);
  const Mask string = inside | quote;
  const Mask comment = apostrophe & valid & ~string;
  const std::size_t end = comment != 0 ? lowest(comment) : n;
  if (comment == 0 && has(inside, 127)) return false;  // an unclosed string
  const Mask live = below(end);
  if ((control & live) != 0) return false;
  const Mask define = to_mask(planes.define) & at_offset(terminator, 6);
  if (((rem | define) & live & ~string) != 0) return false;

  // Numbers and words, and the values: these with the strings.
  const Mask token = ~(blank | op | apostrophe | quote | control) & live & ~string;
  const Mask value = token | (string & live);
  const Mask opening = quote & inside & live;
  const Mask closing = quote & ~inside & live;
  // A quote that touches a word, a number or another string is left to the token loop.
  if ((opening & (value << 1)) != 0 || ((closing << 1) & value) != 0) return false;
  const Mask token_start = token & ~(token << 1);
  if ((token_start & ~(letter | digit)) != 0) return false;  // a byte that begins no token

  const Mask items = (value & ~(value << 1)) | (op & live & ~string);
  if (items == 0) return true;  // only blanks before the comment
  const Mask word_start = token_start & letter;
  Mask numeric = token_start & digit;
  const Mask word = runs_from(token, word_start);

  // Of each run of blanks between two values, one stays, written as a space.
  const Mask blanks = blank & live & ~string;
  const Mask after_value = runs_from(blanks, blanks & ~(blanks << 1) & (value << 1));
  const Mask kept_blank = after_value & ~(blanks >> 1) & (value >> 1);
  Mask keep = live & (~blanks | kept_blank);

  const std::size_t live_blocks = (end + simd::kBlock - 1) / simd::kBlock;
  for (std::size_t b = 0; b < live_blocks; ++b) {
    simd::transform(text + b * simd::kBlock, converted + b * simd::kBlock, block_bits(word, b),
                    block_bits(kept_blank, b));
  }

  // Defined names, looked up upper-cased, give way to their values.
  Substitution substitutions[kMaxLength / 2];
  std::size_t substituted = 0;
  std::size_t value_bytes = 0;
  if (symbols.size() != 0) {
    for (Mask starts = word_start; starts != 0; starts &= starts - 1) {
      const std::size_t start = lowest(starts);
      const Mask rest = ~(token >> start);
      const std::size_t length = rest != 0 ? lowest(rest) : kMaxLength - start;
      if (!symbols.find_upper({converted + start, length})) continue;
      const std::string_view found = symbols.found_value();
      substitutions[substituted++] = {start, length, found.data(), found.size()};
      value_bytes += found.size();
      if (!found.empty() && char_class::has(found.front(), char_class::kDigit)) {
        numeric |= Mask{1} << start;
      }
      keep &= ~(below(start + length) & ~below(start));
    }
  }

  // A line whose only number-like token is its first joins the next output line: at its comment,
  // or at its end when that token is the only one.
  const bool leading_number = single(numeric) && has(numeric, lowest(items));
  const bool join = leading_number && (comment != 0 || single(items));

  char* o = out.reserve(end + value_bytes + 3);
  std::size_t from = 0;
  for (std::size_t s = 0; s < substituted; ++s) {
    const Substitution& sub = substitutions[s];
    o = compress(converted, keep, from, sub.start, o);
    std::memcpy(o, sub.value, sub.value_size);
    o += sub.value_size;
    from = sub.start + sub.length;
  }
  o = compress(converted, keep, from, end, o);
  if (join) {
    *o++ = ' ';
  } else {
    *o++ = '\r';
    *o++ = '\n';
  }
  out.commit(o);
  return true;
}

}  // namespace vorpex

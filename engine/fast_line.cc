#include "engine/fast_line.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>

#include "engine/byte_mask.h"
#include "engine/char_class.h"
#include "engine/line_source.h"
#include "engine/simd.h"

namespace vorpex {

namespace {

// One bit per byte of the line: 64 bits for most lines, 128 for the longer ones, 256 for the
// longest.
using Wide = mask::Mask128;
using Wider = mask::Mask256;
static_assert(fast_line::kMaxLength == mask::kBits<Wider>, "one bit of a Wider mask per byte");

using mask::at_offset;
using mask::below;
using mask::has;
using mask::highest;
using mask::kAll;
using mask::kBits;
using mask::lowest;
using mask::prefix_xor;
using mask::run_length;
using mask::runs_from;
using mask::single;

// One 16-bit word per block for each class of bytes.
template <typename M>
using Plane = std::array<std::uint16_t, kBits<M> / simd::kBlock>;

template <typename M>
M to_mask(const Plane<M>& plane) {
  if constexpr (std::endian::native == std::endian::little) {
    return std::bit_cast<M>(plane);
  } else {
    M m = 0;
    for (std::size_t b = 0; b < plane.size(); ++b)
      m |= M{plane[b]} << (b * simd::kBlock);
    return m;
  }
}

// A line in whole blocks, and room for its NUL and for the 16-byte copies to read past its end.
struct LineCopy {
  alignas(16) char bytes[fast_line::kMaxLength + 2 * simd::kBlock];
};

// The bytes of [from, to) of `text` that are not marked in `drop`, written at `out`; returns the
// new end. Reads `text` up to 7 bytes past `to`, and writes up to 8 bytes past the new end.
template <typename M>
char* emit(const char* text, M drop, std::size_t from, std::size_t to, char* out) {
  const M keep = ~drop & below<M>(to) & ~below<M>(from);
  std::array<std::uint8_t, sizeof(M)> marks;
  if constexpr (std::endian::native == std::endian::little) {
    marks = std::bit_cast<decltype(marks)>(keep);
  } else {
    for (std::size_t g = 0; g < sizeof(M); ++g)
      marks[g] = static_cast<std::uint8_t>(keep >> (g * simd::kGroup));
  }
  const std::size_t first = from / simd::kGroup;
  const std::size_t last = (to + simd::kGroup - 1) / simd::kGroup;
  return simd::compress(text + first * simd::kGroup, marks.data() + first,
                        last > first ? last - first : 0, out);
}

// True when `text` begins with REM or DEFINE, in any case (whatever follows). Reads no byte past
// the first one that differs from the keyword: a candidate where the whole keyword lies within the
// line reads only the line's own bytes.
inline bool is_keyword_at(const char* text) {
  const auto is = [&](std::size_t k, char c) { return (text[k] | 0x20) == c; };
  if (is(0, 'r')) return is(1, 'e') && is(2, 'm');
  return is(0, 'd') && is(1, 'e') && is(2, 'f') && is(3, 'i') && is(4, 'n') && is(5, 'e');
}

// A defined name at `start`, `length` bytes long, and its value. Left uninitialised until used.
struct Substitution {
  std::size_t start;
  std::size_t length;
  const char* value;
  std::size_t value_size;
};

// The classes of the line's bytes, one bit per byte, each restricted to the line's own bytes.
// Held as the blocks' words and read as masks where used, which leaves the compiler free to load
// each where it is needed (loading them all up front cost 1% more instructions).
template <typename M>
struct LineMasks {
  M valid;  // the line's bytes
  Plane<M> blank_plane{}, op_plane{}, apostrophe_plane{}, quote_plane{}, letter_plane{},
      digit_plane{}, control_plane{}, r_plane{}, d_plane{};

  // Every plane, for what is done to all of them alike.
  std::array<Plane<M>*, 9> planes() {
    return {&blank_plane, &op_plane,      &apostrophe_plane, &quote_plane, &letter_plane,
            &digit_plane, &control_plane, &r_plane,          &d_plane};
  }

  M blank() const { return to_mask<M>(blank_plane); }
  M op() const { return to_mask<M>(op_plane); }
  M apostrophe() const { return to_mask<M>(apostrophe_plane); }
  M quote() const { return to_mask<M>(quote_plane); }
  M letter() const { return to_mask<M>(letter_plane); }
  M digit() const { return to_mask<M>(digit_plane); }
  M control() const { return to_mask<M>(control_plane); }
  M r() const { return to_mask<M>(r_plane); }
  M d() const { return to_mask<M>(d_plane); }
};

// Where a comment surely begins in block `b`, which is not the line's last (an apostrophe, or a
// REM that ends at a terminator within the block, each outside the strings, the REM after no
// letter or digit), as the length of the line up to and with it; 0 for none. `quotes`: the quotes
// of the blocks before, odd when a string is open; `wordish`: the byte before the block is a
// letter or digit.
inline std::size_t comment_cut(const char* text, std::size_t b, const simd::BlockClasses& c,
                               std::size_t quotes, bool wordish) {
  const auto inside = static_cast<std::uint16_t>(prefix_xor<std::uint16_t>(c.quote) ^
                                                 ((quotes & 1) != 0 ? 0xFFFF : 0));
  const auto outside = static_cast<std::uint16_t>(~(inside | c.quote));
  const auto boundary =
      static_cast<std::uint16_t>(~(((c.letter | c.digit) << 1) | (wordish ? 1 : 0)));
  const auto rem = static_cast<std::uint16_t>(c.r & boundary & 0x1FFF);  // bytes i..i+3 here
  for (auto candidates = static_cast<std::uint16_t>((c.apostrophe | rem) & outside);
       candidates != 0; candidates &= static_cast<std::uint16_t>(candidates - 1)) {
    const auto i = static_cast<std::size_t>(std::countr_zero(candidates));
    const std::size_t at = b * simd::kBlock + i;
    if (has(c.apostrophe, i)) return at + 1;
    if (is_keyword_at(text + at) && char_class::has(text[at + 3], char_class::kTerminator))
      return at + 3;
  }
  return 0;
}

// Classifies the line block by block, and stops after the block where a comment surely begins:
// returns the length of the line up to it, or `n`. At most kBits<M> bytes are classified: a line
// whose comment does not begin within them returns more. The last block reaches past the line (its
// NUL, then padding of any value, maybe never set): every class keeps only the line's own bytes,
// so that nothing past them is decided on.
template <typename M>
[[gnu::always_inline]] inline std::size_t classify_line(const char* text, std::size_t n,
                                                        LineMasks<M>& m) {
  const std::size_t blocks = (n + simd::kBlock - 1) / simd::kBlock;
  std::size_t quotes = 0;
  bool wordish = false;
  for (std::size_t b = 0; b < blocks; ++b) {
    if (b == kBits<M> / simd::kBlock) return n;  // too long, and no comment before
    const simd::BlockClasses c = simd::classify(text + b * simd::kBlock);
    m.blank_plane[b] = c.blank;
    m.op_plane[b] = c.op;
    m.apostrophe_plane[b] = c.apostrophe;
    m.quote_plane[b] = c.quote;
    m.letter_plane[b] = c.letter;
    m.digit_plane[b] = c.digit;
    m.control_plane[b] = c.control;
    m.r_plane[b] = c.r;
    m.d_plane[b] = c.d;
    if (kBits < M >> 64 && b + 1 < blocks &&
        (c.apostrophe | (c.r & ~((c.letter | c.digit) << 1))) != 0) {
      if (const std::size_t cut = comment_cut(text, b, c, quotes, wordish); cut != 0) {
        n = cut;
        break;
      }
    }
    if (c.quote != 0) quotes += prefix_xor<std::uint16_t>(c.quote) >> 15;
    wordish = ((c.letter | c.digit) & 0x8000) != 0;
  }
  const std::size_t last = (n + simd::kBlock - 1) / simd::kBlock - 1;
  const auto tail = static_cast<std::uint16_t>(below<std::uint32_t>(n - last * simd::kBlock));
  for (Plane<M>* plane : m.planes()) {
    (*plane)[last] &= tail;
  }
  m.valid = below<M>(n);
  return n;
}

// REM and DEFINE, in any case, where a word may begin and end around them and the whole keyword
// lies within the line (the word may end at the line's end): few words of three or six bytes
// begin with R or D, so each candidate is checked byte by byte, within the line. A Number or Word
// may end at a terminator (the other control bytes too: a keyword seen there only sends the line
// to the token loop); the bytes past the line count as its NUL.
template <typename M>
[[gnu::always_inline]] inline M find_keywords(const char* text, const LineMasks<M>& m) {
  const M terminator = m.blank() | m.op() | m.apostrophe() | m.control() | ~m.valid;
  const M word_boundary = ~((m.letter() | m.digit()) << 1);
  const M rem_fits = m.valid >> 2;     // bit i: bytes i..i+2 are the line's
  const M define_fits = m.valid >> 5;  // bit i: bytes i..i+5 are the line's
  M keyword = 0;
  for (M candidates = word_boundary & ((m.r() & rem_fits & at_offset(terminator, 3)) |
                                       (m.d() & define_fits & at_offset(terminator, 6)));
       candidates != 0; candidates &= candidates - 1) {
    const std::size_t at = lowest(candidates);
    if (is_keyword_at(text + at)) keyword |= M{1} << at;
  }
  return keyword;
}

// The line's strings and tokens as masks, up to its comment.
template <typename M>
struct LineParts {
  M inside;          // from each opening quote up to its closing one
  M string;          // the strings with their quotes
  M comment;         // apostrophes outside the strings; the first begins the comment
  std::size_t end;   // where the comment begins, or the line's length
  bool rem = false;  // a REM after the first token begins the comment
  M live;            // the bytes before the comment
  M token;           // the Numbers and Words
  M value;           // these and the strings
  M token_start;     // the first byte of each Number and Word
};

using fast_line::Refusal;

// One rule a reason. The line is split into `p` on the way, each part just before the first rule
// that needs it, so that a refused line costs no more than its reason (computing every part first
// cost 1% more instructions on the generated sources).
template <typename M>
[[gnu::always_inline]] inline Refusal refusal(const char* text, const LineMasks<M>& m, M keyword,
                                              std::size_t n, LineParts<M>& p) {
  p.inside = m.quote() != 0 ? prefix_xor(m.quote()) : M{0};
  p.string = p.inside | m.quote();
  p.comment = m.apostrophe() & ~p.string;
  p.end = p.comment != 0 ? lowest(p.comment) : n;
  // REM after the first token ends the line as a comment does (the token loop takes a line whose
  // first token is REM); DEFINE sends the line to the token loop (below).
  if (const M spoken = keyword & below<M>(p.end) & ~p.string; spoken != 0) {
    const std::size_t at = lowest(spoken);
    // The token before ends at a blank or an operator, or is a string, and a byte that ends a word
    // follows: REM is a word of its own.
    if ((text[at] | 0x20) == 'r' && at != 0 && has(m.blank() | m.op() | m.quote(), at - 1) &&
        char_class::has(text[at + 3], char_class::kTerminator)) {
      p.end = at;
      p.rem = true;
    }
  }
  // A string still open at the line's end (the token loop warns about it).
  if (p.comment == 0 && !p.rem && has(p.inside, kBits<M> - 1)) return Refusal::UnclosedString;
  p.live = below<M>(p.end);
  // A control byte or a byte 0x80-0xFF before the comment.
  if ((m.control() & p.live) != 0) return Refusal::ControlByte;
  // DEFINE outside the strings, before the comment.
  if ((keyword & p.live & ~p.string) != 0) return Refusal::Keyword;
  p.token = ~(m.blank() | m.op() | m.apostrophe() | m.quote() | m.control()) & p.live & ~p.string;
  p.value = p.token | (p.string & p.live);
  // A quote that touches a word, a number or another string.
  if (m.quote() != 0) {
    const M opening = m.quote() & p.inside & p.live;
    const M closing = m.quote() & ~p.inside & p.live;
    if ((opening & (p.value << 1)) != 0 || ((closing << 1) & p.value) != 0)
      return Refusal::QuoteTouches;
  }
  // A byte that begins no token.
  p.token_start = p.token & ~(p.token << 1);
  if ((p.token_start & ~(m.letter() | m.digit())) != 0) return Refusal::NoTokenBegins;
  return Refusal::None;
}

// Where a piece of a line lies in it, and what the pieces before it left for the line's end. A
// line of one piece is its own first and last.
struct Piece {
  std::size_t offset = 0;  // where the piece begins in the line
  bool first = true;
  bool last = true;
  // The line's first token stands as a number, and no other token in the pieces so far does.
  bool leading_number = false;
};

// Writes the line, or a piece of it: words upper-cased, one blank of each run between two values
// kept as a space, defined names replaced by their values, and at the line's end the line break,
// or the joining blank of a line whose only number-like token is its first.
template <typename M>
[[gnu::always_inline]] inline void write_line(const char* text, const LineMasks<M>& m,
                                              const LineParts<M>& p, SymbolTable& symbols,
                                              OutputBuffer& out, fast_line::Lead& lead,
                                              Piece& piece) {
  const M items = (p.value & ~(p.value << 1)) | (m.op() & p.live & ~p.string);
  if (items == 0) return;  // only blanks before the comment (never a piece of a longer line)
  const M word_start = p.token_start & m.letter();
  M numeric = p.token_start & m.digit();
  const M word = runs_from(p.token, word_start);

  // Of each run of blanks between two values, one stays, written as a space.
  const M blanks = m.blank() & p.live & ~p.string;
  const M after_value = runs_from(blanks, blanks & ~(blanks << 1) & (p.value << 1));
  const M kept_blank = after_value & ~(blanks >> 1) & (p.value >> 1);
  const M drop = blanks & ~kept_blank;

  // The line as it is written: words upper-cased, kept blanks as spaces; the blocks past the last
  // one stay unwritten and are copied only past the end of the output.
  LineCopy converted;
  const std::size_t live_blocks = (p.end + simd::kBlock - 1) / simd::kBlock;
  for (std::size_t b = 0; b < live_blocks; ++b) {
    simd::transform(text + b * simd::kBlock, converted.bytes + b * simd::kBlock,
                    static_cast<std::uint16_t>(word >> (b * simd::kBlock)),
                    static_cast<std::uint16_t>(kept_blank >> (b * simd::kBlock)));
  }

  // Defined names, looked up upper-cased, give way to their values.
  Substitution substitutions[kBits<M> / 2];
  std::size_t substituted = 0;
  std::size_t value_bytes = 0;
  if (symbols.size() != 0) {
    for (M starts = word_start; starts != 0; starts &= starts - 1) {
      const std::size_t start = lowest(starts);
      const std::size_t length = run_length(p.token, start);
      if (!symbols.find_upper_padded({converted.bytes + start, length})) continue;
      const std::string_view found = symbols.found_value();
      substitutions[substituted++] = {start, length, found.data(), found.size()};
      value_bytes += found.size();
      if (!found.empty() && char_class::has(found.front(), char_class::kDigit)) {
        numeric |= M{1} << start;
      }
    }
  }

  // A line whose only number-like token is its first joins the next output line: at its comment,
  // or at its end when that token is the only one.
  const std::size_t first = lowest(items);
  if (piece.first) {
    if (has(numeric, first)) {
      lead.start = first;
      lead.length = run_length(p.token, first);
      lead.value = substituted != 0 && substitutions[0].start == first
                       ? std::string_view(substitutions[0].value, substitutions[0].value_size)
                       : std::string_view();
    }
    piece.leading_number = single(numeric) && has(numeric, first);
  } else if (numeric != 0) {
    piece.leading_number = false;
  }
  const bool leading_number = piece.leading_number;
  const bool alone = piece.first && single(items);  // a piece after the first begins with an item
  const bool join = leading_number && (p.comment != 0 || alone);

  char* o = out.reserve(p.end + value_bytes + 2 + simd::kGroup);
  std::size_t from = 0;
  for (std::size_t s = 0; s < substituted; ++s) {
    const Substitution& sub = substitutions[s];
    o = emit(converted.bytes, drop, from, sub.start, o);
    std::memcpy(o, sub.value, sub.value_size);
    o += sub.value_size;
    from = sub.start + sub.length;
  }
  o = emit(converted.bytes, drop, from, p.end, o);
  if (!piece.last) {
    // The next piece goes on where this one stops.
  } else if (p.rem) {
    // The blank before REM stays after a value. After a number alone the line is a label that
    // joins the next output line; after a statement the next line continues it.
    if (p.value > (m.op() & p.live & ~p.string)) *o++ = ' ';
    if (!(leading_number && alone)) lead.rem = piece.offset + p.end;
  } else if (join) {
    *o++ = ' ';
  } else {
    *o++ = '\r';
    *o++ = '\n';
  }
  out.commit(o);
}

// `text` holds the line's `n` bytes, its NUL, and at least 15 readable bytes more. Without
// `symbols`, only tells whether the line would be taken.
template <typename M>
[[gnu::noinline]] Refusal convert_line(const char* text, std::size_t n, SymbolTable* symbols,
                                       OutputBuffer* out, fast_line::Lead* lead) {
  LineMasks<M> m;
  // What follows a comment's first byte counts for nothing.
  n = classify_line(text, n, m);
  if (n > kBits<M>) return Refusal::TooLong;
  // A line of blanks writes nothing, and so does a line whose first token is REM.
  const M nonblank = m.valid & ~m.blank();
  if (nonblank == 0) return Refusal::None;
  const std::size_t first = lowest(nonblank);
  const M keyword = find_keywords(text, m);
  if (has(keyword, first) && (text[first] | 0x20) == 'r' &&
      (first + 3 >= n || char_class::has(text[first + 3], char_class::kTerminator))) {
    return Refusal::None;
  }
  LineParts<M> p;
  const Refusal why = refusal(text, m, keyword, n, p);
  if (why != Refusal::None || symbols == nullptr) return why;
  Piece whole;
  write_line(text, m, p, *symbols, *out, *lead, whole);
  return Refusal::None;
}

// A long line is converted in pieces of up to 128 bytes, each but the last cut just before an
// operator outside the strings and past the line's first non-blank byte. No run of blanks, word,
// number or string crosses such a cut, and no blank next to an operator is kept, so each piece
// converts as a line of its own would, but for the line's first token and its end. Every piece is
// classified and checked before the first is written: a line that one piece refuses is refused
// whole, with nothing written. `text` is read in place, with the padding past its NUL.
constexpr std::size_t kMaxPieces = 16;

struct PieceMasks {
  LineMasks<Wide> m;
  LineParts<Wide> p;
  std::size_t offset;
};

// Room for the pieces, each made only when the line comes to it (its planes zeroed as made).
class PieceList {
 public:
  std::size_t size() const { return count_; }
  PieceMasks& operator[](std::size_t k) {
    return *std::launder(reinterpret_cast<PieceMasks*>(raw_[k]));
  }
  PieceMasks& add() { return *new (raw_[count_++]) PieceMasks; }

 private:
  static_assert(std::is_trivially_destructible_v<PieceMasks>);
  std::size_t count_ = 0;
  alignas(PieceMasks) unsigned char raw_[kMaxPieces][sizeof(PieceMasks)];
};

// Keeps only the first `n` bytes of masks classified over a whole window.
inline void cut_masks(LineMasks<Wide>& m, std::size_t n) {
  const Wide keep = below<Wide>(n);
  for (Plane<Wide>* plane : m.planes()) {
    if constexpr (std::endian::native == std::endian::little) {
      *plane = std::bit_cast<Plane<Wide>>(to_mask<Wide>(*plane) & keep);
    } else {
      for (std::size_t b = 0; b < plane->size(); ++b)
        (*plane)[b] &= static_cast<std::uint16_t>(keep >> (b * simd::kBlock));
    }
  }
  m.valid = keep;
}

[[gnu::noinline]] Refusal convert_pieces(const char* text, std::size_t n, SymbolTable* symbols,
                                         OutputBuffer* out, fast_line::Lead* lead) {
  PieceList pieces;
  for (std::size_t offset = 0;;) {
    if (pieces.size() == kMaxPieces) return Refusal::TooLong;
    PieceMasks& piece = pieces.add();
    piece.offset = offset;
    const char* at = text + offset;
    LineMasks<Wide>& m = piece.m;
    std::size_t length = classify_line(at, n - offset, m);
    bool last = true;
    if (length > kBits<Wide>) {
      // No comment begins in the window: cut before its last operator outside the strings.
      const Wide string = prefix_xor(m.quote()) | m.quote();
      Wide cuts = m.op() & ~string;
      if (offset == 0) {
        const Wide nonblank = ~m.blank();  // the window is all the line's
        if (nonblank == 0) return Refusal::TooLong;
        cuts &= ~below<Wide>(lowest(nonblank) + 1);
      }
      if (cuts == 0) return Refusal::TooLong;
      length = highest(cuts);
      if (length == 0) return Refusal::TooLong;  // only the operator this piece begins with
      cut_masks(m, length);
      last = false;
    }
    const Wide keyword = find_keywords(at, m);
    if (offset == 0) {
      // A line of blanks writes nothing, and so does a line whose first token is REM.
      const Wide nonblank = m.valid & ~m.blank();
      if (nonblank == 0) return Refusal::None;
      const std::size_t first = lowest(nonblank);
      if (has(keyword, first) && (at[first] | 0x20) == 'r' &&
          (first + 3 >= length || char_class::has(at[first + 3], char_class::kTerminator))) {
        return Refusal::None;
      }
    }
    if (const Refusal why = refusal(at, m, keyword, length, piece.p); why != Refusal::None)
      return why;
    if (last || piece.p.rem) break;  // a REM after a statement makes the rest a comment
    offset += length;
  }
  if (symbols == nullptr) return Refusal::None;
  Piece state;
  for (std::size_t k = 0; k < pieces.size(); ++k) {
    state.offset = pieces[k].offset;
    state.first = k == 0;
    state.last = k + 1 == pieces.size();
    write_line(text + state.offset, pieces[k].m, pieces[k].p, *symbols, *out, *lead, state);
    // The line's output stays in the buffer until the line is done, as the token loop keeps it: a
    // line that joins the next output line is read back from it.
    if (k == 0) out->keep(true);
  }
  out->keep(false);
  return Refusal::None;
}

// How a line past 128 bytes is taken. Read in place, it goes in pieces when it holds a string
// (a string costs the 256-bit masks more than two windows of 128 bits) or passes kMaxLength, and
// whole otherwise; but a line whose first string is long goes to the token loop. Copied, it is
// taken whole when it fits and holds no string.
enum class LongLine { Whole, Pieces, TooLong, LongString };
constexpr std::ptrdiff_t kLongString = 32;  // from a string's opening quote to its closing one

LongLine long_line(std::span<const char> line, bool padded) {
  const std::size_t n = line.size();
  if (padded) {
    const char* const end = line.data() + n;
    const auto* quote = static_cast<const char*>(std::memchr(line.data(), '"', n));
    if (quote == nullptr) return n > fast_line::kMaxLength ? LongLine::Pieces : LongLine::Whole;
    // A line whose first string is long goes to the token loop, which finds a string's end with
    // one search, where the masks go through every byte.
    const auto* closing = static_cast<const char*>(
        std::memchr(quote + 1, '"', static_cast<std::size_t>(end - quote - 1)));
    return (closing != nullptr ? closing : end) - quote > kLongString ? LongLine::LongString
                                                                      : LongLine::Pieces;
  }
  if (n > fast_line::kMaxLength) return LongLine::TooLong;
  if (std::memchr(line.data(), '"', n) != nullptr) return LongLine::LongString;
  return LongLine::Whole;
}

// The line in whole blocks with its NUL and readable padding, copied into `copy` unless `padded`.
struct LineCopyOf {
  LineCopy copy;
  const char* text;
  LineCopyOf(std::span<const char> line, bool padded) : text(line.data()) {
    if (padded) return;
    // Whole blocks, NUL past the line, so that no block is read past what the line owns.
    const std::size_t blocks = (line.size() + simd::kBlock - 1) / simd::kBlock;
    std::memset(copy.bytes + (blocks - 1) * simd::kBlock, 0, 2 * simd::kBlock);
    std::memcpy(copy.bytes, line.data(), line.size());
    text = copy.bytes;
  }
};

}  // namespace

bool fast_line::convert(std::span<const char> line, bool padded, SymbolTable& symbols,
                        OutputBuffer& out, Lead& lead) {
  static_assert(kLinePadding + 1 >= simd::kBlock, "a block that holds a line's byte is readable");
  const std::size_t n = line.size();
  if (n == 0) return true;  // an empty line writes nothing
  if (n > 128) {
    switch (long_line(line, padded)) {
      case LongLine::Whole:
        break;
      case LongLine::Pieces:
        return convert_pieces(line.data(), n, &symbols, &out, &lead) == Refusal::None;
      case LongLine::TooLong:
      case LongLine::LongString:
        return false;
    }
  }
  const LineCopyOf copy(line, padded);
  const Refusal why = n <= 64    ? convert_line<std::uint64_t>(copy.text, n, &symbols, &out, &lead)
                      : n <= 128 ? convert_line<Wide>(copy.text, n, &symbols, &out, &lead)
                                 : convert_line<Wider>(copy.text, n, &symbols, &out, &lead);
  return why == Refusal::None;
}

fast_line::Refusal fast_line::refusal_of(std::span<const char> line) {
  const std::size_t n = line.size();
  if (n == 0) return Refusal::None;
  // The whole line and its padding, as a file reader gives it.
  std::string padded(line.data(), line.size());
  padded.append(kLinePadding + 1, '\0');
  if (n > 128) {
    switch (long_line(line, true)) {
      case LongLine::Whole:
        break;
      case LongLine::Pieces:
        return convert_pieces(padded.data(), n, nullptr, nullptr, nullptr);
      case LongLine::TooLong:
        return Refusal::TooLong;
      case LongLine::LongString:
        return Refusal::LongString;
    }
  }
  const LineCopyOf copy({padded.data(), n}, true);
  return n <= 64    ? convert_line<std::uint64_t>(copy.text, n, nullptr, nullptr, nullptr)
         : n <= 128 ? convert_line<Wide>(copy.text, n, nullptr, nullptr, nullptr)
                    : convert_line<Wider>(copy.text, n, nullptr, nullptr, nullptr);
}

}  // namespace vorpex

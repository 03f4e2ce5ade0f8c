#include "engine/fast_block.h"

#include <array>
#include <bit>
#include <cstring>

#include "engine/byte_mask.h"
#include "engine/char_class.h"
#include "engine/line_source.h"

namespace vorpex::fast_block {

namespace {

using mask::above;
using mask::below;
using mask::below_lowest;
using mask::lowest_bit;
using mask::runs_from;
using simd::ByteClass;

constexpr std::uint64_t kTop = std::uint64_t{1} << 63;
constexpr std::uint64_t kAll = ~std::uint64_t{0};

constexpr unsigned bit_of(ByteClass k) {
  return 1u << static_cast<unsigned>(k);
}
// The classes that no Number or Word holds; of them, a quote begins a value (a String).
constexpr unsigned kNotToken = bit_of(ByteClass::Blank) | bit_of(ByteClass::Operator) |
                               bit_of(ByteClass::Apostrophe) | bit_of(ByteClass::Quote) |
                               bit_of(ByteClass::Control);
constexpr unsigned kNoValue = kNotToken & ~bit_of(ByteClass::Quote);

// The bytes of a step in any of the classes `classes`.
std::uint64_t any_of(const simd::StepClasses& c, unsigned classes) {
  std::uint64_t m = 0;
  for (unsigned k = 0; k < simd::kByteClasses; ++k) {
    if ((classes >> k) & 1u) m |= c.bits[k];
  }
  return m;
}
// Whether byte `b` is in any of the classes `classes`.
bool any_of(unsigned char b, unsigned classes) {
  return (simd::kClassTable[b] & classes) != 0;
}

// True when `text` is `keyword` (lower case) in any case.
bool is_keyword_at(const char* text, std::string_view keyword) {
  for (std::size_t k = 0; k < keyword.size(); ++k) {
    if ((text[k] | 0x20) != keyword[k]) return false;
  }
  return true;
}

// For each line, the region from the first bit of a mask in it up to its line end, a step at a
// time: the bits subtracted from the line ends set every bit from each up to the line end above
// it (but for the later bits of the same line, added back), the borrow carried to the next step.
class LineFill {
 public:
  // The region of `x`, from its first bit in each line up to the line end (not included).
  std::uint64_t region(std::uint64_t x, std::uint64_t lf) {
    std::uint64_t region = 0;
    if ((x & ~lf) != 0 || borrow_) {  // most steps of most masks have neither
      const std::uint64_t borrow_in = borrow_ ? 1 : 0;
      x &= ~lf & ~borrow_in;
      std::uint64_t difference = 0;
      const bool borrow1 = __builtin_sub_overflow(lf, x, &difference);
      const bool borrow2 = __builtin_sub_overflow(difference, borrow_in, &difference);
      borrow_ = borrow1 || borrow2;
      region = ((difference ^ lf) & ~lf) | x;
    }
    after_ = (region << 1) | last_;
    last_ = region >> 63;
    return region;
  }
  // The bits of `x` that begin the last region (the first of their line).
  std::uint64_t first(std::uint64_t x) const { return x & ~after_; }
  // The line ends of `lf` whose line the last region reached.
  std::uint64_t ends(std::uint64_t lf) const { return lf & after_; }

 private:
  bool borrow_ = false;
  std::uint64_t last_ = 0;   // bit 0: the region reached the last byte of the step before
  std::uint64_t after_ = 0;  // the bytes whose byte before lies in the region
};

// One step's masks, limited to the window's bytes, as the scanners below make them in turn.
struct Masks {
  const char* text;
  simd::StepClasses c;
  unsigned char next;                         // the byte after the step: a LF past the window's end
  std::uint64_t lf, quote, word_quote;        // quote: the quotes of strings
  std::uint64_t inside, string, string_open;  // strings
  std::uint64_t comment, rem, rem_text;       // comments
  std::uint64_t line_cr, stray, line_text, unquoted;  // the line's own bytes
  std::uint64_t token, token_start, word_start, word, numeric, value, value_before, ops, item;
  std::uint64_t refusing, defines, kept_blank, candidate;
};

// Strings: from each opening quote up to its closing one; every line starts outside them. A quote
// right after a byte of a Number or Word outside the strings is one of its bytes, as the tokenizer
// reads it, and opens no string.
class StringScanner {
 public:
  // Sets m.inside (each opening quote and the string's bytes), m.string (with the closing quotes),
  // m.string_open (the line ends reached with a string open), m.word_quote (the quotes inside
  // words) and m.quote without them.
  template <typename Level>
  void scan(Masks& m, const Level& level) {
    m.string_open = 0;
    m.word_quote = 0;
    std::uint64_t inside = level.prefix_xor(m.quote) ^ (in_string_ ? kAll : 0);
    for (std::uint64_t pending = m.lf & inside; pending != 0;) {
      const std::uint64_t at = lowest_bit(pending);
      m.string_open |= at;
      inside ^= above(at);  // the line end closes the string
      pending = m.lf & inside & above(at);
    }
    // A word also carries the bytes 0x80-0xFF and the control bytes, but a line that holds one
    // outside its comment is refused whatever its quotes, and in a comment the quotes tell
    // nothing: letters and digits are enough.
    const std::uint64_t word_byte = m.c[ByteClass::Letter] | m.c[ByteClass::Digit];
    // The first quote inside a word is the first quote that would open a string right after a
    // word's byte; the quotes after it are told apart one by one.
    const std::uint64_t after_word = (word_byte << 1) | after_word_;
    if ((m.quote & inside & after_word) != 0) [[unlikely]] {
      if (!in_string_ && (m.quote & ~after_word) == 0) {
        // Every quote of the step follows a letter or a digit, outside the strings: each one is a
        // byte of its word, and no string opens.
        m.word_quote = m.quote;
        m.quote = 0;
        m.string_open = 0;
        inside = 0;
      } else {
        inside = split_quotes(m, word_byte, level);
      }
    }
    after_word_ = (((word_byte & ~inside) | m.word_quote) >> 63) & 1;
    in_string_ = (inside & ~m.lf & kTop) != 0;
    m.inside = inside;
    m.string = inside | m.quote;
  }

 private:
  // Tells the quotes of the step apart in order: in a string, a quote closes it; outside, one
  // after a word's byte (or a quote inside a word) is a byte of that word, any other opens a
  // string. Returns m.inside; sets m.quote to the quotes of strings, m.word_quote, m.string_open.
  template <typename Level>
  std::uint64_t split_quotes(Masks& m, std::uint64_t word_byte, const Level& level) {
    std::uint64_t strings = 0, words = 0, open = 0;
    bool in_string = in_string_;
    for (std::uint64_t events = m.quote | m.lf; events != 0; events &= events - 1) {
      const auto i = static_cast<unsigned>(std::countr_zero(events));
      const std::uint64_t at = std::uint64_t{1} << i;
      if (in_string) {
        (at & m.lf ? open : strings) |= at;
        in_string = false;
      } else if ((at & m.quote) != 0) {
        const bool after_word = i == 0 ? after_word_ != 0 : (((word_byte | words) >> (i - 1)) & 1);
        (after_word ? words : strings) |= at;
        in_string = !after_word;
      }
    }
    m.quote = strings;
    m.word_quote = words;
    m.string_open = open;
    return (level.prefix_xor(strings | open) ^ (in_string_ ? kAll : 0)) | open;
  }

  bool in_string_ = false;
  std::uint64_t after_word_ = 0;  // bit 0: the last byte was a word's, outside the strings
};

// Comments: from the first apostrophe outside the strings of a line, or from its first REM, up to
// its end.
class CommentScanner {
 public:
  // Sets m.comment, and the bytes of each line before it outside its line end: m.line_text, and
  // of them m.unquoted, outside the strings. The CR of a CR LF is part of the line end; any other
  // CR is m.stray.
  void scan_apostrophes(Masks& m, std::uint64_t valid) {
    m.comment = comment_.region(m.c[ByteClass::Apostrophe] & valid & ~m.string, m.lf) & valid;
    const std::uint64_t cr = m.c[ByteClass::Cr] & valid;
    m.line_cr = cr & ((m.lf >> 1) | (m.next == '\n' ? kTop : 0));
    m.stray = cr & ~m.line_cr;
    m.line_text = valid & ~m.comment & ~m.lf & ~m.line_cr;
    m.unquoted = m.line_text & ~m.string;
  }
  // Sets m.rem, the first of `rems` on each line, and m.rem_text, from it up to the line end.
  void scan_rems(Masks& m, std::uint64_t rems) {
    m.rem_text = rem_text_.region(rems, m.lf);
    m.rem = rem_text_.first(rems);
  }

 private:
  LineFill comment_, rem_text_;
};

// Numbers and Words: their bytes and first bytes, the Words, the values and the items.
class WordScanner {
 public:
  // Sets the token, word and value masks of `m`, and m.refusing: the bytes that begin no token,
  // the control bytes and bytes 0x80-0xFF before the comment, and the quotes that touch a value.
  void scan(Masks& m) {
    const simd::StepClasses& c = m.c;
    m.token = (m.unquoted & ~any_of(c, kNotToken)) | (m.word_quote & m.unquoted);
    m.value = m.token | (m.string & m.line_text);
    m.ops = c[ByteClass::Operator] & m.unquoted;
    m.token_start = m.token & ~((m.token << 1) | token_);
    m.value_before = (m.value << 1) | value_;
    m.word_start = m.token_start & c[ByteClass::Letter];
    m.word = runs_from(m.token, m.word_start | (word_ & m.token & 1));
    m.numeric = m.token_start & c[ByteClass::Digit];
    m.item = (m.value & ~m.value_before) | m.ops;
    const std::uint64_t opening = m.quote & m.inside & m.line_text;
    const std::uint64_t closing = m.quote & ~m.inside & m.line_text;
    m.refusing = (c[ByteClass::Control] & m.line_text) |
                 (m.token_start & ~(c[ByteClass::Letter] | c[ByteClass::Digit])) |
                 (opening & m.value_before) | (((closing << 1) | closing_) & m.value);
    token_ = m.token >> 63;
    value_ = m.value >> 63;
    word_ = m.word >> 63;
    closing_ = closing >> 63;
  }

 private:
  std::uint64_t token_ = 0, value_ = 0, word_ = 0, closing_ = 0;  // bit 0: the last byte was one
};

// REM and DEFINE where a word begins. Returns the REMs that end their line as a comment does
// (after a blank, an operator, a quote or nothing); sets m.defines.
class KeywordScanner {
 public:
  std::uint64_t scan(Masks& m) {
    const simd::StepClasses& c = m.c;
    const std::uint64_t wordish = c[ByteClass::Letter] | c[ByteClass::Digit] | m.word_quote;
    const std::uint64_t rem_after =
        c[ByteClass::Blank] | c[ByteClass::Operator] | m.quote | c[ByteClass::Lf];
    const std::uint64_t rem_may = (rem_after << 1) | rem_may_;
    std::uint64_t rems = 0;
    m.defines = 0;
    for (std::uint64_t at_r_or_d =
             c[ByteClass::KeywordStart] & m.unquoted & ~((wordish << 1) | wordish_);
         at_r_or_d != 0; at_r_or_d &= at_r_or_d - 1) {
      const auto i = static_cast<std::size_t>(std::countr_zero(at_r_or_d));
      const std::uint64_t at = std::uint64_t{1} << i;
      if ((m.text[i] | 0x20) == 'r') {
        if ((rem_may & at) != 0 && is_keyword_at(m.text + i, "rem") &&
            char_class::has(m.text[i + 3], char_class::kTerminator))
          rems |= at;
      } else if (is_keyword_at(m.text + i, "define")) {
        m.defines |= at;
      }
    }
    wordish_ = wordish >> 63;
    rem_may_ = rem_after >> 63;
    return rems;
  }

 private:
  std::uint64_t wordish_ = 0;  // bit 0: the last byte was a letter or a digit
  std::uint64_t rem_may_ = 1;  // bit 0: a REM may follow the last byte (or none)
};

// Of each run of blanks between two values, the last one stays, written as a space.
class BlankScanner {
 public:
  // Sets m.kept_blank; the byte after the step decides the step's last blank.
  void scan(Masks& m) {
    const std::uint64_t blanks = m.c[ByteClass::Blank] & m.unquoted;
    const std::uint64_t run_start = blanks & ~((blanks << 1) | blank_);
    const std::uint64_t after_value =
        runs_from(blanks, (run_start & m.value_before) | (after_value_ & blanks & 1));
    const std::uint64_t blank_after =
        (blanks >> 1) | (any_of(m.next, bit_of(ByteClass::Blank)) ? kTop : 0);
    const std::uint64_t value_after = (m.value >> 1) | (any_of(m.next, kNoValue) ? 0 : kTop);
    m.kept_blank = after_value & ~blank_after & value_after;
    blank_ = blanks >> 63;
    after_value_ = after_value >> 63;
  }

 private:
  std::uint64_t blank_ = 0;        // bit 0: the last byte was a blank outside the strings
  std::uint64_t after_value_ = 0;  // ... a blank of a run that followed a value
};

// Sets m.candidate: the first byte of each Word outside a REM's text that may be a defined name,
// by the table's filter (a word that reaches the next step counts as one).
[[gnu::always_inline]] inline void find_candidates(Masks& m, const SymbolTable& symbols) {
  m.candidate = 0;
  for (std::uint64_t words = m.word_start & ~m.rem_text; words != 0; words &= words - 1) {
    const auto i = static_cast<std::size_t>(std::countr_zero(words));
    const auto length = static_cast<std::size_t>(std::countr_zero(~(m.token >> i)));
    if (i + length >= simd::kStep || symbols.may_hold(length, char_class::to_upper(m.text[i]),
                                                      char_class::to_upper(m.text[i + length - 1])))
      m.candidate |= std::uint64_t{1} << i;
  }
}

// The lines that need a look of their own, and the lines that write something.
class LineScanner {
 public:
  // Fills s.needs_look and s.candidate; returns the line ends of the lines that write something,
  // and sets `rem_line` to the bytes of the lines whose first item is a REM, which write nothing.
  std::uint64_t scan(const Masks& m, Step& s, std::uint64_t& rem_line) {
    items_.region(m.item, m.lf);
    const std::uint64_t first_item = items_.first(m.item);
    rem_line = rem_line_.region(m.rem & first_item, m.lf);
    const std::uint64_t has_items = items_.ends(m.lf) & ~rem_line_.ends(m.lf);
    more_items_.region(m.item & ~first_item, m.lf);
    const std::uint64_t commented = m.lf & ((m.comment << 1) | comment_last_);
    comment_last_ = m.comment >> 63;
    // A Number first with a comment or nothing else joins the next output line.
    const std::uint64_t may_join = commented | (has_items & ~more_items_.ends(m.lf));
    const std::uint64_t own = ((m.refusing | m.defines | m.rem) & ~rem_line) | m.stray;
    own_look_.region(own, m.lf);
    s.candidate = m.candidate & ~rem_line;
    // A line with a leading Number, or with a word that may be a defined name (whose value may
    // begin with a digit, which may make or unmake a join).
    may_lead_.region((first_item & m.numeric) | s.candidate, m.lf);
    s.needs_look =
        (may_lead_.ends(m.lf) & may_join) | (m.lf & m.string_open) | own_look_.ends(m.lf);
    return m.lf & has_items;
  }

 private:
  LineFill items_, more_items_, own_look_, rem_line_, may_lead_;
  std::uint64_t comment_last_ = 0;  // bit 0: the step before ended in a comment
};

// Stores a byte of marks for each group of 8 bytes of the step at `base`.
void store_marks(std::uint8_t* marks, std::size_t base, std::uint64_t m) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(marks + base / simd::kGroup, &m, sizeof m);
  } else {
    for (std::size_t g = 0; g < sizeof m; ++g)
      marks[base / simd::kGroup + g] = static_cast<std::uint8_t>(m >> (g * simd::kGroup));
  }
}

// The marks of the 64 bytes from the group of byte `base` on.
std::uint64_t load_marks(const std::uint8_t* marks, std::size_t base) {
  std::uint64_t m = 0;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&m, marks + base / simd::kGroup, sizeof m);
  } else {
    for (std::size_t g = 0; g < sizeof m; ++g)
      m |= std::uint64_t{marks[base / simd::kGroup + g]} << (g * simd::kGroup);
  }
  return m;
}

}  // namespace

Window::Window()
    : steps_(new Step[kSteps]),
      // The marks of a line's last bytes may be read with the 64 bytes after them.
      keep_(new std::uint8_t[kWindow / simd::kGroup + simd::kStep / simd::kGroup]()),
      ends_(new std::uint8_t[kWindow / simd::kGroup]),
      converted_(new char[kWindow + simd::kStep + kLinePadding]) {}

namespace {

// The scanners of a window, run over each step in turn, with `level` giving each step's classes,
// its prefix XOR and its transform.
template <typename Level>
class Classifier {
 public:
  Classifier(const SymbolTable& symbols, Level level) : symbols_(symbols), level_(level) {}

  // Classifies the step of text[base, n) at `base` into steps, marks and converted bytes.
  [[gnu::always_inline]] void step(const char* text, std::size_t base, std::size_t n,
                                   Window::Parts& out) {
    Masks m;
    m.text = text + base;
    m.c = level_(m.text);
    const std::uint64_t valid = n - base >= simd::kStep ? kAll : below<std::uint64_t>(n - base);
    m.next = static_cast<unsigned char>(base + simd::kStep < n ? m.text[simd::kStep] : '\n');
    m.lf = m.c[ByteClass::Lf] & valid;
    m.quote = m.c[ByteClass::Quote] & valid;
    strings_.scan(m, level_);
    comments_.scan_apostrophes(m, valid);
    words_.scan(m);
    comments_.scan_rems(m, keywords_.scan(m));
    m.defines &= ~m.rem_text;  // a REM's text is a comment
    blanks_.scan(m);
    m.candidate = 0;
    if (!symbols_.empty()) find_candidates(m, symbols_);

    Step& s = out.steps[base / simd::kStep];
    std::uint64_t rem_line = 0;
    const std::uint64_t line_end = lines_.scan(m, s, rem_line);
    s.lf = m.lf;
    s.token = m.token;
    s.item = m.item;
    s.numeric = m.numeric;
    s.word = m.word_start;
    s.comment = m.comment;
    s.rem = m.rem;
    s.refusing = m.refusing | m.defines;
    s.string_open = m.string_open;
    s.stray = m.stray;
    s.word_quote = m.word_quote;
    store_marks(out.keep, base, ((m.value | m.ops | m.kept_blank) & ~rem_line) | line_end);
    store_marks(out.ends, base, line_end);
    level_.transform(m.text, out.converted + base, m.word, m.kept_blank);
  }

 private:
  const SymbolTable& symbols_;
  Level level_;
  StringScanner strings_;
  CommentScanner comments_;
  WordScanner words_;
  KeywordScanner keywords_;
  BlankScanner blanks_;
  LineScanner lines_;
};

template <typename Level>
[[gnu::always_inline]] inline void classify_window(const char* text, std::size_t n,
                                                   const SymbolTable& symbols, Window::Parts& out,
                                                   Level level) {
  Classifier<Level> classifier(symbols, level);
  for (std::size_t base = 0; base < n; base += simd::kStep)
    classifier.step(text, base, n, out);
}

// The step's bytes as they are written: the bytes of `upper` upper-cased, those of `space` spaces.
inline void transform_blocks(const char* p, char* target, std::uint64_t upper,
                             std::uint64_t space) {
  for (unsigned k = 0; k < simd::kStep; k += simd::kBlock) {
    simd::transform(p + k, target + k, static_cast<std::uint16_t>(upper >> k),
                    static_cast<std::uint16_t>(space >> k));
  }
}

struct PortableLevel {
  simd::StepClasses operator()(const char* p) const { return simd::portable::classify_step(p); }
  std::uint64_t prefix_xor(std::uint64_t m) const { return mask::prefix_xor(m); }
  void transform(const char* p, char* target, std::uint64_t upper, std::uint64_t space) const {
    for (unsigned k = 0; k < simd::kStep; k += simd::kBlock) {
      simd::portable::transform(p + k, target + k, static_cast<std::uint16_t>(upper >> k),
                                static_cast<std::uint16_t>(space >> k));
    }
  }
};
struct VectorLevel {
  simd::Level level;
  simd::StepClasses operator()(const char* p) const { return simd::classify_step(p, level); }
  std::uint64_t prefix_xor(std::uint64_t m) const { return mask::prefix_xor(m); }
  void transform(const char* p, char* target, std::uint64_t upper, std::uint64_t space) const {
    transform_blocks(p, target, upper, space);
  }
};

#if defined(VORPEX_SIMD_SSE2) && defined(__x86_64__)
struct Avx2Level {
  [[gnu::always_inline]] simd::StepClasses operator()(const char* p) const {
    return simd::detail::classify_step_avx2(p);
  }
  [[gnu::always_inline]] std::uint64_t prefix_xor(std::uint64_t m) const {
    return simd::detail::prefix_xor_clmul(m);
  }
  [[gnu::always_inline]] void transform(const char* p, char* target, std::uint64_t upper,
                                        std::uint64_t space) const {
    simd::detail::transform_step_avx2(p, target, upper, space);
  }
};
__attribute__((target("avx2,bmi,bmi2,pclmul"))) void classify_window_avx2(
    const char* text, std::size_t n, const SymbolTable& symbols, Window::Parts& out) {
  classify_window(text, n, symbols, out, Avx2Level{});
}
#endif

}  // namespace

void Window::classify(const char* text, std::size_t n, const SymbolTable& symbols,
                      simd::Level level) {
  Parts out{steps_.get(), keep_.get(), ends_.get(), converted_.get()};
#if defined(VORPEX_SIMD_SSE2) && defined(__x86_64__)
  if (level == simd::Level::Avx2 && simd::window_avx2()) {
    classify_window_avx2(text, n, symbols, out);
    return;
  }
#endif
  if (level == simd::Level::Portable) {
    classify_window(text, n, symbols, out, PortableLevel{});
  } else {
    classify_window(text, n, symbols, out, VectorLevel{level});
  }
}

namespace {

// The bits of step `step`'s masks that lie in [from, to).
inline std::uint64_t range_of(std::size_t step, std::size_t from, std::size_t to) {
  const std::size_t first = step * simd::kStep;
  std::uint64_t m = ~std::uint64_t{0};
  if (from > first) m &= ~below<std::uint64_t>(from - first);
  if (to < first + simd::kStep) m &= below<std::uint64_t>(to - first);
  return m;
}

// The lowest bit of `field` in [from, to), or `to`: the steps from `from`'s to `to - 1`'s.
inline std::size_t lowest_in(const Step* steps, std::uint64_t Step::*field, std::size_t from,
                             std::size_t to) {
  if (from >= to) return to;
  std::size_t step = from / simd::kStep;
  std::uint64_t m = steps[step].*field & ~below<std::uint64_t>(from % simd::kStep);
  for (const std::size_t last = (to - 1) / simd::kStep; m == 0 && step < last;)
    m = steps[++step].*field;
  if (m == 0) return to;
  return std::min(step * simd::kStep + static_cast<std::size_t>(std::countr_zero(m)), to);
}

// How many bits `m` has: 0, 1, or 2 for more (the baseline has no population count).
inline std::size_t up_to_two(std::uint64_t m) {
  return m == 0 ? 0 : mask::single(m) ? 1 : 2;
}

// The one decision whether the token loop takes a line: a string open at its end that no comment
// or REM cuts off, a CR that ends no line anywhere in it, or a refusing byte before its cut. Each
// question is asked only when the ones before it say no.
template <typename StringOpen, typename Stray, typename Refusing>
[[gnu::always_inline]] inline bool refused(const Line& line, StringOpen string_open, Stray stray,
                                           Refusing refusing) {
  return (line.cut == line.end && string_open()) || stray() || refusing();
}

// Where what the line [start, end) writes ends (Line::cut): its comment, a REM before it, or its
// end; a line shorter than a step from 64 bits of each mask taken at its start.
struct Cut {
  std::size_t at;
  bool rem, comment;
};
[[gnu::always_inline]] inline Cut cut_of(const Step* steps, std::size_t start, std::size_t end) {
  if (end - start < simd::kStep) {
    const std::uint64_t range = below<std::uint64_t>(end - start);
    const std::uint64_t comment = bits_at(steps, &Step::comment, start, end) & range;
    const std::uint64_t rem =
        bits_at(steps, &Step::rem, start, end) & below_lowest(comment) & range;
    const std::uint64_t cut_bit = rem != 0 ? lowest_bit(rem) : lowest_bit(comment);
    return {cut_bit != 0 ? start + static_cast<std::size_t>(std::countr_zero(cut_bit)) : end,
            rem != 0, comment != 0};
  }
  const std::size_t comment = lowest_in(steps, &Step::comment, start, end);
  const std::size_t rem = lowest_in(steps, &Step::rem, start, comment);
  return {rem < comment ? rem : comment, rem < comment, comment < end};
}

// The facts of a line shorter than a step, from 64 bits of each mask taken at its start.
[[gnu::always_inline]] inline Line short_line(const Step* steps, std::size_t start,
                                              std::size_t end) {
  Line line;
  line.start = start;
  line.end = end;
  const std::size_t length = end - start;
  const std::uint64_t range = below<std::uint64_t>(length);
  const auto take = [&](std::uint64_t Step::*field) __attribute__((always_inline)) {
    return bits_at(steps, field, start, end);
  };
  const Cut cut = cut_of(steps, start, end);
  line.cut = cut.at;
  line.rem = cut.rem;
  line.comment = cut.comment;
  const std::uint64_t before_cut = below<std::uint64_t>(line.cut - start);
  line.refused = refused(
      line, [&] { return ((take(&Step::string_open) >> length) & 1) != 0; },
      [&] { return (take(&Step::stray) & range) != 0; },
      [&] { return (take(&Step::refusing) & before_cut) != 0; });
  if (line.refused) return line;
  const std::uint64_t item = take(&Step::item) & before_cut;
  line.empty = item == 0;
  if (item != 0) line.first = start + static_cast<std::size_t>(std::countr_zero(item));
  line.alone = mask::single(item);
  line.numbers = up_to_two(take(&Step::numeric) & before_cut);
  return line;
}

// The same for a longer line, a step at a time.
Line long_line(const Step* steps, std::size_t start, std::size_t end) {
  Line line;
  line.start = start;
  line.end = end;
  const Cut cut = cut_of(steps, start, end);
  line.cut = cut.at;
  line.rem = cut.rem;
  line.comment = cut.comment;
  line.refused = refused(
      line, [&] { return bit(steps, &Step::string_open, end); },
      [&] { return lowest_in(steps, &Step::stray, start, end) != end; },
      [&] { return lowest_in(steps, &Step::refusing, start, line.cut) != line.cut; });
  if (line.refused) return line;
  std::size_t items = 0;
  for (std::size_t step = start / simd::kStep; step * simd::kStep < line.cut; ++step) {
    const std::uint64_t range = range_of(step, start, line.cut);
    const std::uint64_t item = steps[step].item & range;
    if (item != 0 && items == 0)
      line.first = step * simd::kStep + static_cast<std::size_t>(std::countr_zero(item));
    items = std::min<std::size_t>(items + up_to_two(item), 2);
    line.numbers = std::min<std::size_t>(line.numbers + up_to_two(steps[step].numeric & range), 2);
  }
  line.empty = items == 0;
  line.alone = items == 1;
  return line;
}

}  // namespace

Line read_line(const Step* steps, std::size_t start, std::size_t end) {
  return end - start < simd::kStep ? short_line(steps, start, end) : long_line(steps, start, end);
}

namespace {

// The groups of 8 bytes that window[from, to) spans, and the marks of its first and last group
// that lie within it.
struct Groups {
  std::size_t first, count;
  std::uint8_t lead, tail;
};
Groups groups_of(std::size_t from, std::size_t to) {
  const std::size_t first = from / simd::kGroup;
  const std::size_t last = (to - 1) / simd::kGroup;
  return {first, last - first + 1, static_cast<std::uint8_t>(0xFFu << (from % simd::kGroup)),
          static_cast<std::uint8_t>(0xFFu >> (simd::kGroup - 1 - (to - 1) % simd::kGroup))};
}

// Whether every byte of [from, to), fewer than 64, is kept: the marks of the 64 bytes from its
// group's first byte, and of the group after them.
bool all_kept(const std::uint8_t* keep, std::size_t from, std::size_t to) {
  const std::size_t shift = from % simd::kGroup;
  const std::size_t reach = simd::kStep - shift;  // the bytes that the first 64 marks hold
  const std::uint64_t marks = load_marks(keep, from) >> shift;
  if (to - from <= reach) return (~marks & below<std::uint64_t>(to - from)) == 0;
  const std::uint8_t rest = keep[from / simd::kGroup + simd::kStep / simd::kGroup];
  return marks == (kAll >> shift) && (~rest & below<std::uint8_t>(to - from - reach)) == 0;
}

// The first quote inside a word of the line [start, end) (end its LF), or `end` for none.
std::size_t first_word_quote(const Step* steps, std::size_t start, std::size_t end) {
  if (end - start >= simd::kStep) return lowest_in(steps, &Step::word_quote, start, end);
  const std::uint64_t quotes =
      bits_at(steps, &Step::word_quote, start, end) & below<std::uint64_t>(end - start);
  return quotes == 0 ? end : start + static_cast<std::size_t>(std::countr_zero(quotes));
}

// Where the token that ends just before `at` begins, not before the line's `start`: the token
// bytes before it, up to 63 of them from one read.
std::size_t token_before(const Step* steps, std::size_t start, std::size_t at) {
  const std::size_t back = std::min<std::size_t>(at - start, simd::kStep - 1);
  const std::uint64_t not_token =
      ~bits_at(steps, &Step::token, at - back, at) & below<std::uint64_t>(back);
  std::size_t token = not_token != 0 ? at - back + mask::highest(not_token) + 1 : at - back;
  while (token > start && bit(steps, &Step::token, token - 1))
    --token;
  return token;
}

}  // namespace

bool word_quote_may_matter(const Window& window, const char* text, std::size_t start,
                           std::size_t end, SymbolTable& symbols) {
  const Step* const steps = window.steps();
  const std::size_t quote = first_word_quote(steps, start, end);
  if (quote == end) return false;
  const std::size_t cut = cut_of(steps, start, end).at;
  if (quote >= cut) return false;
  const auto* const found =
      static_cast<const char*>(std::memchr(text + quote + 1, '"', cut - quote - 1));
  if (found == nullptr) return true;  // the string would run to the line's end, and be closed
  const auto close = static_cast<std::size_t>(found - text);
  const std::size_t span = close - quote;
  if (span + 1 >= simd::kStep) return true;  // 64 bits from the quote hold the byte after
  // From a step's first byte, its own 64 bits hold them all, and the next step is not read.
  const std::size_t reach = quote % simd::kStep == 0 ? quote : end;
  const auto from_quote = [&](std::uint64_t Step::*field) {
    return bits_at(steps, field, quote, reach);
  };
  // A quote after a blank or an operator would open a string in the line as it is; a token right
  // after the closing quote would follow a string with a blank.
  const std::uint64_t word_quotes = from_quote(&Step::word_quote);
  if (((word_quotes >> span) & 1) == 0 || ((from_quote(&Step::token) >> (span + 1)) & 1) != 0)
    return true;
  if (cut - quote <= simd::kStep
          ? ((word_quotes >> (span + 1)) & below<std::uint64_t>(cut - close - 1)) != 0
          : lowest_in(steps, &Step::word_quote, close + 1, cut) != cut)
    return true;
  // A Number in the quoted text counts among the line's numbers, which decide only whether a line
  // with a leading number joins the next output line at its comment or REM.
  if ((from_quote(&Step::numeric) & mask::below<std::uint64_t>(span + 1)) != 0 && cut != end &&
      (bit(steps, &Step::numeric, lowest_in(steps, &Step::item, start, cut)) || !symbols.empty()))
    return true;
  const char* const converted = window.converted();
  if (std::memcmp(converted + quote + 1, text + quote + 1, span - 1) != 0 ||
      !all_kept(window.keep(), quote + 1, close))
    return true;
  const std::size_t word = token_before(steps, start, quote);
  if (!bit(steps, &Step::word, word)) return true;  // a Number takes the quote
  const std::string_view before(converted + word, quote - word);
  if (before == "REM" || before == "DEFINE") return true;
  if (symbols.empty()) return false;
  const auto defined = [&](std::size_t at, std::size_t length) {
    return symbols.may_hold(length, converted[at], converted[at + length - 1]) &&
           symbols.find_upper_padded({converted + at, length});
  };
  if (defined(word, before.size())) return true;
  for (std::size_t at = word; at < close; at = lowest_in(steps, &Step::word, at + 1, close)) {
    if (defined(at, token_length(steps, at))) return true;
  }
  return false;
}

char* emit_lines(const Window& window, std::size_t from, std::size_t to, char* out) {
  if (from >= to) return out;
  const Groups g = groups_of(from, to);
  return simd::compress_lines(window.converted() + g.first * simd::kGroup, window.keep() + g.first,
                              window.ends() + g.first, g.count, g.lead, g.tail, out);
}

char* emit(const Window& window, std::size_t from, std::size_t to, char* out) {
  if (from >= to) return out;
  const Groups g = groups_of(from, to);
  return simd::compress_range(window.converted() + g.first * simd::kGroup, window.keep() + g.first,
                              g.count, g.lead, g.tail, out);
}

std::size_t token_length(const Step* steps, std::size_t at) {
  std::size_t step = at / simd::kStep;
  std::uint64_t rest = ~(steps[step].token >> (at % simd::kStep));
  std::size_t length = 0;
  std::size_t shift = at % simd::kStep;
  // The bits above the step's last are 0 in `rest`'s complement: a token that reaches the step's
  // end goes on in the next one.
  while ((rest & below<std::uint64_t>(simd::kStep - shift)) == 0) {
    length += simd::kStep - shift;
    shift = 0;
    rest = ~steps[++step].token;
  }
  return length + static_cast<std::size_t>(std::countr_zero(rest));
}

}  // namespace vorpex::fast_block

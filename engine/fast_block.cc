#include "engine/fast_block.h"

#include <array>
#include <bit>
#include <cstring>

#include "engine/byte_mask.h"
#include "engine/char_class.h"
#include "engine/line_source.h"

namespace vorpex::fast_block {

namespace {

using mask::below;
using mask::prefix_xor;
using mask::runs_from;

constexpr std::uint64_t kTop = std::uint64_t{1} << 63;

// The bytes that are a value when they follow a blank outside the strings: those that begin a
// Number, a Word or a String, and the bytes that begin no token (their line goes to the token loop
// whatever is decided about the blank).
constexpr std::array<std::uint8_t, 256> kValueAfterBlank = [] {
  std::array<std::uint8_t, 256> t{};
  for (unsigned b = 0; b < 256; ++b) {
    const auto c = static_cast<char>(b);
    t[b] = !char_class::has(c, char_class::kTerminator) && b >= 0x20 && b < 0x80 ? 1 : 0;
  }
  t['"'] = 1;
  return t;
}();

// True when `text` is `keyword` (lower case) in any case.
bool is_keyword_at(const char* text, std::string_view keyword) {
  for (std::size_t k = 0; k < keyword.size(); ++k) {
    if ((text[k] | 0x20) != keyword[k]) return false;
  }
  return true;
}

// The classes of one step restricted to the window's bytes, and what is carried from the step
// before: the class of its last byte, and whether a string, a comment, a word or a run of blanks
// that followed a value goes on into this step.
struct Carry {
  bool in_string = false;
  bool in_comment = false;
  bool in_rem = false;            // the text of a REM goes on into this step
  std::uint64_t token = 0;        // bit 0: the last byte was a Number's or Word's
  std::uint64_t value = 0;        // ... a value's
  std::uint64_t word = 0;         // ... a Word's
  std::uint64_t closing = 0;      // ... a closing quote
  std::uint64_t blank = 0;        // ... a blank outside the strings
  std::uint64_t after_value = 0;  // ... a blank of a run that followed a value
  std::uint64_t wordish = 0;      // ... a letter or a digit
  std::uint64_t rem_may = 1;      // ... a byte after which REM is a word of its own (or none)
};

// For each line end, whether a mask has a bit in the line before it, a step at a time: the bits of
// `x` subtracted from the line ends set every bit from each up to the line end above it (but for
// the later bits of the same line, added back), the borrow carried to the next step.
struct LineFill {
  bool borrow = false;
  std::uint64_t last = 0;  // bit 0: the region reached the last byte of the step before

  // The region from the first bit of `x` in each line up to its line end (not included).
  std::uint64_t region(std::uint64_t x, std::uint64_t lf) {
    if ((x & ~lf) == 0 && !borrow) return 0;  // most steps of most masks
    const std::uint64_t borrow_in = borrow ? 1 : 0;
    x &= ~lf & ~borrow_in;
    std::uint64_t difference = 0;
    const bool borrow1 = __builtin_sub_overflow(lf, x, &difference);
    const bool borrow2 = __builtin_sub_overflow(difference, borrow_in, &difference);
    borrow = borrow1 || borrow2;
    return ((difference ^ lf) & ~lf) | x;
  }
  // The line ends of `lf` whose line holds a bit of `x` (region() of the same step).
  std::uint64_t ends(std::uint64_t region, std::uint64_t lf) {
    if ((region | last) == 0) return 0;
    const std::uint64_t at = lf & ((region << 1) | last);
    last = region >> 63;
    return at;
  }
};

}  // namespace

Window::Window()
    : steps_(new Step[kSteps]),
      keep_(new std::uint8_t[kWindow / simd::kGroup]),
      ends_(new std::uint8_t[kWindow / simd::kGroup]),
      converted_(new char[kWindow + simd::kStep + kLinePadding]) {}

namespace {

// Classifies a window with `classify_step` giving each step's classes: compiled once for every
// processor, and once more with AVX2 and BMI for those that have them.
template <typename ClassifyStep>
[[gnu::always_inline]] inline void classify_window(const char* text, std::size_t n,
                                                   const SymbolTable& symbols, Step* steps,
                                                   std::uint8_t* keep_marks,
                                                   std::uint8_t* end_marks, char* converted,
                                                   ClassifyStep classify_step) {
  Carry carry;
  LineFill items_fill, lead_fill, second_fill, trouble_fill, rem_fill, candidate_fill;
  std::uint64_t comment_last = 0;
  const bool substitutes = !symbols.empty();
  for (std::size_t base = 0; base < n; base += simd::kStep) {
    const char* const p = text + base;
    simd::StepClasses c = classify_step(p);
    const std::uint64_t valid =
        n - base >= simd::kStep ? ~std::uint64_t{0} : below<std::uint64_t>(n - base);
    const std::uint64_t lf = c.lf & valid;
    const std::uint64_t quote = c.quote & valid;
    // The byte after the step, which the window holds unless the step ends it (at a line end).
    const bool more = base + simd::kStep < n;
    const auto next = static_cast<unsigned char>(more ? p[simd::kStep] : '\n');

    // Strings, from each opening quote up to its closing one; every line starts outside them.
    std::uint64_t inside = prefix_xor(quote) ^ (carry.in_string ? ~std::uint64_t{0} : 0);
    std::uint64_t open = 0;
    for (std::uint64_t pending = lf & inside; pending != 0;) {
      const std::uint64_t at = pending & (~pending + 1);
      open |= at;
      const std::uint64_t rest = ~((at << 1) - 1);  // the bits above the line end
      inside ^= rest;
      pending = lf & inside & rest;
    }
    carry.in_string = (inside & ~lf & kTop) != 0;
    const std::uint64_t string = inside | quote;

    // Comments, from the first apostrophe outside the strings of a line up to its end. Subtracting
    // the apostrophes from the line ends sets every bit from each apostrophe up to the line end
    // above it, but for the later apostrophes of the same line, added back; a borrow out of the
    // step carries the comment into the next one.
    std::uint64_t apostrophes = c.apostrophe & valid & ~string;
    const std::uint64_t borrow_in = carry.in_comment ? 1 : 0;
    apostrophes &= ~borrow_in;
    std::uint64_t difference = 0;
    const bool borrow1 = __builtin_sub_overflow(lf, apostrophes, &difference);
    const bool borrow2 = __builtin_sub_overflow(difference, borrow_in, &difference);
    carry.in_comment = borrow1 || borrow2;
    const std::uint64_t comment = (((difference ^ lf) & ~lf) | apostrophes) & valid;

    // The CR of a CR LF line end is part of the line end; any other CR sends its line to the token
    // loop, which reads the line without it.
    const std::uint64_t line_cr = c.cr & ((lf >> 1) | (next == '\n' ? kTop : 0));
    const std::uint64_t live = valid & ~comment & ~lf & ~line_cr;
    const std::uint64_t code = live & ~string;  // outside the strings and the comment

    const std::uint64_t token = code & ~(c.blank | c.op | c.apostrophe | c.quote | c.control);
    const std::uint64_t value = token | (string & live);
    const std::uint64_t ops = c.op & code;
    const std::uint64_t token_start = token & ~((token << 1) | carry.token);
    const std::uint64_t value_before = (value << 1) | carry.value;

    std::uint64_t bad = (c.control & live) | (token_start & ~(c.letter | c.digit));
    // A quote that touches a value.
    const std::uint64_t opening = quote & inside & live;
    const std::uint64_t closing = quote & ~inside & live;
    bad |= (opening & value_before) | (((closing << 1) | carry.closing) & value);

    // Words, upper-cased, and the Words that go on from the step before.
    const std::uint64_t word_start = token_start & c.letter;
    const std::uint64_t word = runs_from(token, word_start | (carry.word & token & 1));

    // Of each run of blanks between two values, the last one stays, written as a space.
    const std::uint64_t blanks = c.blank & code;
    const std::uint64_t run_start = blanks & ~((blanks << 1) | carry.blank);
    const std::uint64_t after_value =
        runs_from(blanks, (run_start & value_before) | (carry.after_value & blanks & 1));
    const std::uint64_t blank_after =
        (blanks >> 1) | (char_class::has(static_cast<char>(next), char_class::kBlank) ? kTop : 0);
    const std::uint64_t value_after = (value >> 1) | (kValueAfterBlank[next] != 0 ? kTop : 0);
    const std::uint64_t kept_blank = after_value & ~blank_after & value_after;

    // REM and DEFINE where a word begins; a DEFINE sends its line to the token loop, a REM after a
    // blank, an operator or a quote (or first on its line) ends the line as a comment does.
    const std::uint64_t wordish = c.letter | c.digit;
    const std::uint64_t rem_after = c.blank | c.op | c.quote | lf;
    const std::uint64_t rem_may = (rem_after << 1) | carry.rem_may;
    // The text of a REM is a comment: no candidate is looked at there, nor a word looked up.
    std::uint64_t rem = 0;
    std::uint64_t rem_text =
        carry.in_rem ? (lf != 0 ? (lf & (~lf + 1)) - 1 : ~std::uint64_t{0}) : 0;
    for (std::uint64_t candidates = c.rd & code & ~((wordish << 1) | carry.wordish) & ~rem_text;
         candidates != 0; candidates &= candidates - 1) {
      const auto i = static_cast<std::size_t>(std::countr_zero(candidates));
      const std::uint64_t at = std::uint64_t{1} << i;
      if ((p[i] | 0x20) == 'r') {
        if (is_keyword_at(p + i, "rem") && char_class::has(p[i + 3], char_class::kTerminator) &&
            (rem_may & at) != 0) {
          rem |= at;
          // Up to the line's end, in this step or past it.
          const std::uint64_t after = lf & ~((at << 1) - 1);
          const std::uint64_t text_end =
              after != 0 ? (after & (~after + 1)) - 1 : ~std::uint64_t{0};
          const std::uint64_t span = text_end & ~((at << 1) - 1);
          rem_text |= span;
          candidates &= ~span;
        }
      } else if (is_keyword_at(p + i, "define")) {
        bad |= at;
      }
    }
    carry.in_rem = (rem_text & ~lf & kTop) != 0;

    const std::uint64_t item = (value & ~value_before) | ops;
    const std::uint64_t numeric = token_start & c.digit;
    const std::uint64_t stray = c.cr & valid & ~line_cr;

    // The lines that need a look of their own. A word that may be a defined name, by the table's
    // filter (a word that reaches the next step counts as one).
    std::uint64_t trouble = bad | stray | rem;
    std::uint64_t candidate = 0;
    if (substitutes) {
      for (std::uint64_t words = word_start & ~rem_text; words != 0; words &= words - 1) {
        const auto i = static_cast<std::size_t>(std::countr_zero(words));
        const std::uint64_t rest = ~(token >> i);
        const std::size_t length = static_cast<std::size_t>(std::countr_zero(rest));
        if (i + length >= simd::kStep || symbols.may_hold(length, char_class::to_upper(p[i]),
                                                          char_class::to_upper(p[i + length - 1])))
          candidate |= std::uint64_t{1} << i;
      }
    }
    const std::uint64_t items_region = items_fill.region(item, lf);
    const std::uint64_t first_item = item & ~((items_region << 1) | items_fill.last);
    // A REM first on its line makes the whole line a comment: the line writes nothing.
    const std::uint64_t rem_first = rem & first_item;
    const std::uint64_t rem_line = rem_fill.region(rem_first, lf);
    const std::uint64_t has_items =
        items_fill.ends(items_region, lf) & ~rem_fill.ends(rem_line, lf);
    const std::uint64_t lead = lead_fill.ends(lead_fill.region(first_item & numeric, lf), lf);
    const std::uint64_t second = second_fill.ends(second_fill.region(item & ~first_item, lf), lf);
    const std::uint64_t commented = lf & ((comment << 1) | comment_last);
    comment_last = comment >> 63;
    const std::uint64_t alone = has_items & ~second;
    const std::uint64_t joins = lead & (commented | alone);
    trouble = (trouble & ~rem_line) | stray;
    candidate &= ~rem_line;

    Step& s = steps[base / simd::kStep];
    s.lf = lf;
    s.token = token;
    const std::uint64_t line_end = lf & has_items;
    const std::uint64_t keep = ((value | ops | kept_blank) & ~rem_line) | line_end;
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(keep_marks + base / simd::kGroup, &keep, sizeof keep);
      std::memcpy(end_marks + base / simd::kGroup, &line_end, sizeof line_end);
    } else {
      for (std::size_t g = 0; g < sizeof keep; ++g) {
        keep_marks[base / simd::kGroup + g] = static_cast<std::uint8_t>(keep >> (g * simd::kGroup));
        end_marks[base / simd::kGroup + g] =
            static_cast<std::uint8_t>(line_end >> (g * simd::kGroup));
      }
    }
    s.item = item;
    s.numeric = numeric;
    s.word = word_start;
    s.comment = comment;
    s.rem = rem;
    s.bad = bad;
    s.open = open;
    s.stray = stray;
    s.candidate = candidate;
    // A defined name's value may begin with a digit, which may make or unmake a join.
    const std::uint64_t named = candidate_fill.ends(candidate_fill.region(candidate, lf), lf);
    s.special = joins | (lf & open) | trouble_fill.ends(trouble_fill.region(trouble, lf), lf) |
                (named & (commented | alone));

    classify_step.transform(p, converted + base, word, kept_blank);

    carry.token = token >> 63;
    carry.value = value >> 63;
    carry.word = word >> 63;
    carry.closing = closing >> 63;
    carry.blank = blanks >> 63;
    carry.after_value = after_value >> 63;
    carry.wordish = wordish >> 63;
    carry.rem_may = rem_after >> 63;
  }
}

// The step's bytes as they are written: the bytes of `upper` upper-cased, those of `space` spaces.
inline void transform_blocks(const char* p, char* target, std::uint64_t upper,
                             std::uint64_t space) {
  for (unsigned k = 0; k < simd::kStep; k += simd::kBlock) {
    simd::transform(p + k, target + k, static_cast<std::uint16_t>(upper >> k),
                    static_cast<std::uint16_t>(space >> k));
  }
}

struct PortableStep {
  simd::StepClasses operator()(const char* p) const { return simd::portable::classify_step(p); }
  void transform(const char* p, char* target, std::uint64_t upper, std::uint64_t space) const {
    for (unsigned k = 0; k < simd::kStep; k += simd::kBlock) {
      simd::portable::transform(p + k, target + k, static_cast<std::uint16_t>(upper >> k),
                                static_cast<std::uint16_t>(space >> k));
    }
  }
};
struct LevelStep {
  simd::Level level;
  simd::StepClasses operator()(const char* p) const { return simd::classify_step(p, level); }
  void transform(const char* p, char* target, std::uint64_t upper, std::uint64_t space) const {
    transform_blocks(p, target, upper, space);
  }
};

#if defined(VORPEX_SIMD_SSE2)
struct Avx2Step {
  [[gnu::always_inline]] simd::StepClasses operator()(const char* p) const {
    return simd::detail::classify_step_avx2(p);
  }
  [[gnu::always_inline]] void transform(const char* p, char* target, std::uint64_t upper,
                                        std::uint64_t space) const {
    simd::detail::transform_step_avx2(p, target, upper, space);
  }
};
__attribute__((target("avx2,bmi,bmi2"))) void classify_window_avx2(
    const char* text, std::size_t n, const SymbolTable& symbols, Step* steps,
    std::uint8_t* keep_marks, std::uint8_t* end_marks, char* converted) {
  classify_window(text, n, symbols, steps, keep_marks, end_marks, converted, Avx2Step{});
}
#endif

}  // namespace

void Window::classify(const char* text, std::size_t n, const SymbolTable& symbols,
                      simd::Level level) {
#if defined(VORPEX_SIMD_SSE2)
  if (level == simd::Level::Avx2 && simd::window_avx2()) {
    classify_window_avx2(text, n, symbols, steps_.get(), keep_.get(), ends_.get(),
                         converted_.get());
    return;
  }
#endif
  if (level == simd::Level::Portable) {
    classify_window(text, n, symbols, steps_.get(), keep_.get(), ends_.get(), converted_.get(),
                    PortableStep{});
  } else {
    classify_window(text, n, symbols, steps_.get(), keep_.get(), ends_.get(), converted_.get(),
                    LevelStep{level});
  }
}

namespace {

// The bits of the step's word `w` that lie in [from, to).
inline std::uint64_t range_of(std::size_t w, std::size_t from, std::size_t to) {
  const std::size_t first = w * simd::kStep;
  std::uint64_t m = ~std::uint64_t{0};
  if (from > first) m &= ~below<std::uint64_t>(from - first);
  if (to < first + simd::kStep) m &= below<std::uint64_t>(to - first);
  return m;
}

// The lowest bit of `field` in [from, to), or `to`.
inline std::size_t lowest_in(const Step* steps, std::uint64_t Step::*field, std::size_t from,
                             std::size_t to) {
  for (std::size_t w = from / simd::kStep; w * simd::kStep < to; ++w) {
    if (const std::uint64_t m = steps[w].*field & range_of(w, from, to); m != 0)
      return w * simd::kStep + static_cast<std::size_t>(std::countr_zero(m));
  }
  return to;
}

// How many bits `m` has: 0, 1, or 2 for more (the baseline has no population count).
inline std::size_t few(std::uint64_t m) {
  return m == 0 ? 0 : (m & (m - 1)) == 0 ? 1 : 2;
}

// The facts of a line shorter than a step, from 64 bits of each mask taken at its start.
[[gnu::always_inline]] inline Line short_line(const Step* steps, std::size_t start,
                                              std::size_t end) {
  Line line;
  line.start = start;
  line.end = end;
  const std::size_t length = end - start;
  const std::uint64_t range = below<std::uint64_t>(length);
  const auto take = [&](std::uint64_t Step::*field) { return bits_at(steps, field, start, end); };
  const std::uint64_t comment = take(&Step::comment) & range;
  const std::uint64_t before_comment = comment != 0 ? (comment & (~comment + 1)) - 1 : range;
  const std::uint64_t rem = take(&Step::rem) & before_comment;
  const std::uint64_t cut_bit = rem != 0 ? rem & (~rem + 1) : comment & (~comment + 1);
  line.rem = rem != 0;
  line.comment = comment != 0;
  line.cut = cut_bit != 0 ? start + static_cast<std::size_t>(std::countr_zero(cut_bit)) : end;
  const std::uint64_t live = cut_bit != 0 ? cut_bit - 1 : range;
  if ((cut_bit == 0 && ((take(&Step::open) >> length) & 1) != 0) ||
      (take(&Step::stray) & range) != 0 || (take(&Step::bad) & live) != 0) {
    line.refused = true;  // a string open at the line's end, a stray CR, or a rarer rule
    return line;
  }
  const std::uint64_t item = take(&Step::item) & live;
  line.empty = item == 0;
  if (item != 0) line.first = start + static_cast<std::size_t>(std::countr_zero(item));
  line.alone = item != 0 && (item & (item - 1)) == 0;
  line.numbers = few(take(&Step::numeric) & live);
  return line;
}

}  // namespace

Line read_line(const Step* steps, std::size_t start, std::size_t end) {
  if (end - start < simd::kStep) return short_line(steps, start, end);
  Line line;
  line.start = start;
  line.end = end;
  const std::size_t comment = lowest_in(steps, &Step::comment, start, end);
  const std::size_t rem = lowest_in(steps, &Step::rem, start, comment);
  line.cut = rem < comment ? rem : comment;
  line.rem = rem < comment;
  line.comment = comment < end;
  if ((!line.comment && !line.rem && bit(steps, &Step::open, end)) ||
      lowest_in(steps, &Step::stray, start, end) != end) {
    line.refused = true;  // a string still open at the line's end, or a CR that ends no line
    return line;
  }
  std::size_t items = 0;
  for (std::size_t w = start / simd::kStep; w * simd::kStep < line.cut; ++w) {
    const std::uint64_t range = range_of(w, start, line.cut);
    const Step& s = steps[w];
    if ((s.bad & range) != 0) {
      line.refused = true;
      return line;
    }
    const std::uint64_t item = s.item & range;
    if (item != 0 && items == 0)
      line.first = w * simd::kStep + static_cast<std::size_t>(std::countr_zero(item));
    items = std::min<std::size_t>(items + few(item), 2);
    line.numbers = std::min<std::size_t>(line.numbers + few(s.numeric & range), 2);
  }
  line.empty = items == 0;
  line.alone = items == 1;
  return line;
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

}  // namespace

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
  std::size_t w = at / simd::kStep;
  std::uint64_t rest = ~(steps[w].token >> (at % simd::kStep));
  std::size_t length = 0;
  std::size_t shift = at % simd::kStep;
  // The bits above the step's last are 0 in `rest`'s complement: a token that reaches the step's
  // end goes on in the next one.
  while ((rest & below<std::uint64_t>(simd::kStep - shift)) == 0) {
    length += simd::kStep - shift;
    shift = 0;
    rest = ~steps[++w].token;
  }
  return length + static_cast<std::size_t>(std::countr_zero(rest));
}

}  // namespace vorpex::fast_block

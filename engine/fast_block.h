#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "engine/simd.h"
#include "engine/symbol_table.h"

// The conversion a window of whole lines at a time. The window is classified 64 bytes a step into
// bit masks by a few scanners, each with its own carry from one step to the next (strings;
// comments and the text of a REM; Numbers and Words; the blanks kept; the lines that need a look
// of their own); the masks tell, for every byte, whether it is written, whether it
// is upper-cased or written as a space, and for every line whether it can take one of the token
// loop's rarer rules. The line processor then goes through the window line by line from the masks:
// a line that can take a rarer rule goes to the token loop, every other line is written from the
// converted bytes, many at a time.
namespace vorpex::fast_block {

// The longest window classified at once; a longer run of lines is taken a window at a time, and a
// line longer than a window goes to the token loop.
inline constexpr std::size_t kWindow = 16 * 1024;
inline constexpr std::size_t kSteps = kWindow / simd::kStep;

// What the masks tell of one step of 64 bytes, bit i for byte i.
struct Step {
  std::uint64_t lf;       // the line ends
  std::uint64_t token;    // the bytes of the Numbers and Words
  std::uint64_t item;     // the first byte of each value (Number, Word, String) and each operator
  std::uint64_t numeric;  // the first byte of each Number
  std::uint64_t word;     // the first byte of each Word
  std::uint64_t comment;  // from an apostrophe outside the strings up to the line's end
  std::uint64_t rem;      // a REM that may end the line as a comment does
  // A byte that sends its line to the token loop, unless its line's cut is before it.
  std::uint64_t refusing;
  std::uint64_t string_open;  // a line end with a string still open
  // A CR that ends no line: the line is read without it, which may join the bytes around it, so
  // the token loop takes the line wherever the CR stands.
  std::uint64_t stray;
  // The line ends of the lines that need a look of their own: those that may go to the token loop
  // or end with a REM, and those that may join the next output line (a Number first, and a
  // comment or nothing else) or may be made to by a defined name's value. Every other line is
  // written with the lines around it, its line end as CR LF (or nothing for a line that writes
  // nothing).
  std::uint64_t needs_look;
  // The first byte of each Word that may be a defined name, by the table's filter.
  std::uint64_t candidate;
  std::uint64_t word_quote;  // the quotes inside a Number or Word, which open no string
};

// The bit of `steps` for byte `at`, in the mask `field`.
inline bool bit(const Step* steps, std::uint64_t Step::*field, std::size_t at) {
  return ((steps[at / simd::kStep].*field >> (at % simd::kStep)) & 1) != 0;
}

// The classified window: the masks, and the bytes as they are written (words upper-cased, kept
// blanks as spaces), at the same offsets as the text, with room to read a group past any byte.
class Window {
 public:
  Window();

  // Classifies text[0, n), n <= kWindow, which ends with a line end (LF); up to kBlockPadding
  // bytes past it are read, and decide nothing. `symbols`: the names defined so far. A quote
  // inside a word is taken as the tokenizer reads it (one of the word's bytes), and its line needs
  // no look for it: whether to tell of it is the line processor's question (word_quote_may_matter).
  void classify(const char* text, std::size_t n, const SymbolTable& symbols, simd::Level level);

  // Where classify() writes: the steps, the marks of keep() and ends(), the converted bytes.
  struct Parts {
    Step* steps;
    std::uint8_t* keep;
    std::uint8_t* ends;
    char* converted;
  };

  const Step* steps() const { return steps_.get(); }
  const char* converted() const { return converted_.get(); }
  // The bytes written: values, operators, the one blank kept between two values, and the LF of
  // each line that writes something; a byte of marks for each group of 8 bytes, bit i for byte i
  // of the group. A line alone is written up to its cut, never reaching its LF.
  const std::uint8_t* keep() const { return keep_.get(); }
  // The LFs marked in keep(), each written as CR LF, in the same form.
  const std::uint8_t* ends() const { return ends_.get(); }

 private:
  std::unique_ptr<Step[]> steps_;
  std::unique_ptr<std::uint8_t[]> keep_;
  std::unique_ptr<std::uint8_t[]> ends_;
  std::unique_ptr<char[]> converted_;
};

// What the join tracker needs to know of a line written from the masks beyond its output.
struct JoinFacts {
  // The first token when it stands as a number: a Number, or a defined name whose value begins
  // with a digit.
  std::size_t start = 0;   // where it begins in the line
  std::size_t length = 0;  // its length in the line; 0 when the first token is no number
  std::string_view value;  // a defined name's value; empty for a Number
  // Where a REM after a statement ended the line without its line break (the next line continues
  // this one), or 0.
  std::size_t rem = 0;
};

// Facts of one line of a window, from the masks, for the line processor's decision.
struct Line {
  std::size_t start = 0;  // its first byte
  std::size_t end = 0;    // its LF
  // Where what is written ends: the comment, a REM that ends the line, or its end.
  std::size_t cut = 0;
  bool rem = false;         // the cut is a REM
  bool comment = false;     // an apostrophe outside the strings, at the cut or past a REM
  bool refused = false;     // the token loop must take it
  bool empty = true;        // it writes nothing
  std::size_t first = 0;    // its first item
  bool alone = false;       // the first item is the only one
  std::size_t numbers = 0;  // the Numbers before the cut: 0, 1, or 2 for more
};

// The 64 bits of `field` from byte `at` on, for a line shorter than a step that begins there and
// ends at `end`.
inline std::uint64_t bits_at(const Step* steps, std::uint64_t Step::*field, std::size_t at,
                             std::size_t end) {
  const std::size_t step = at / simd::kStep;
  const std::size_t shift = at % simd::kStep;
  const std::uint64_t low = steps[step].*field >> shift;
  // The next step's mask is read only when the line's end lies in it.
  return end / simd::kStep != step ? low | (steps[step + 1].*field << (simd::kStep - shift)) : low;
}

// Reads the facts of the line [start, end) (end its LF) of a classified window.
Line read_line(const Step* steps, std::size_t start, std::size_t end);

// Whether a blank before the first quote inside a word of the line [start, end) (not refused) may
// change what the line writes beyond that blank, which the tokenizer's warning then tells of.
// False when the line has no such quote before its cut, or when the masks show that the quoted
// text, read as words and operators, is written byte for byte as the string would be and leaves the
// line as a string would: every byte of it is kept as it is; a Number begins in it only where the
// line has no comment or REM, or its first item is no Number and no name is defined; neither the
// word before the quote nor a word of the text is a defined name, and that word is no REM or
// DEFINE; a word's byte takes the closing quote, and no token follows it at once; no other quote
// inside a word comes before the cut. True whenever the masks cannot tell: the token loop then
// judges the line by converting both forms.
bool word_quote_may_matter(const Window& window, const char* text, std::size_t start,
                           std::size_t end, SymbolTable& symbols);
// Whether a byte of [start, end) is a quote inside a word: a quick test over many lines at once.
inline bool holds_word_quote(const Step* steps, std::size_t start, std::size_t end) {
  std::size_t step = start / simd::kStep;
  std::uint64_t quotes = steps[step].word_quote & ~mask::below<std::uint64_t>(start % simd::kStep);
  for (const std::size_t last = end / simd::kStep; step < last; quotes = steps[++step].word_quote) {
    if (quotes != 0) return true;
  }
  return (quotes & mask::below<std::uint64_t>(end % simd::kStep)) != 0;
}

// Writes the bytes of window[from, to) that it keeps, converted, at `out`; returns the new end.
// Writes up to 8 bytes past it.
char* emit(const Window& window, std::size_t from, std::size_t to, char* out);
// The same for whole lines, [from, to) ending just after a LF, each kept LF written as CR LF.
char* emit_lines(const Window& window, std::size_t from, std::size_t to, char* out);

// The length of the Word or Number that begins at `at`.
std::size_t token_length(const Step* steps, std::size_t at);

}  // namespace vorpex::fast_block

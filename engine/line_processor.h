#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "engine/byte_sink.h"
#include "engine/define_directive.h"
#include "engine/diagnostic.h"
#include "engine/fast_block.h"
#include "engine/join_tracker.h"
#include "engine/line_source.h"
#include "engine/line_state.h"
#include "engine/output_buffer.h"
#include "engine/token_observer.h"
#include "engine/tokenizer.h"

namespace vorpex {

// How a run of the line processor ended.
enum class Outcome {
  Done,          // the whole input was converted
  UnknownToken,  // a character that begins no token stopped the run; the message is in the output
  WriteFailed,   // the output sink refused bytes; the run stopped
};

struct ProcessResult {
  Outcome outcome = Outcome::Done;
  std::int64_t line_number = 0;  // the last line read
};

// Converts the input into the compacted output: the common lines a window of whole lines at a time
// from bit masks (fast_block), every other line token by token (the token loop, the reference),
// with no look-ahead beyond the current token.
class LineProcessor {
 public:
  explicit LineProcessor(ByteSink& output,
                         std::size_t output_buffer_size = OutputBuffer::kDefaultCapacity)
      : output_(output, output_buffer_size) {}

  // Diagnostics go to `diagnostics` from the next call of process_input on; null for none.
  void set_diagnostics(DiagnosticObserver* diagnostics) { reports_.diagnostics = diagnostics; }
  // `lines` is told as each input line starts, with the output before it flushed; null for none.
  // This costs a flush per line: only a line map needs it.
  void set_line_observer(LineObserver* lines) { lines_ = lines; }

  // Defines a constant as a «DEFINE name = value» line would, before the input is read: `name`
  // must be one word and `value` one word or number, each with blanks around it at most.
  DefineResult define_constant(std::string_view name, std::string_view value) {
    return define_.define_constant(name, value);
  }

  // Converts the whole input, the fast path taking the runs of whole lines that the source offers
  // and the token loop the rest, and flushes the output.
  ProcessResult process_input(LineSource& input);

  // The constants defined so far; they stay defined across calls of process_input.
  SymbolTable& symbols() { return define_.symbols(); }

  // Whether common lines are converted a window of lines at a time from bit masks (the default,
  // where the input offers runs of whole lines) or every line goes through the token loop. Both
  // write the same bytes. `level`: the vector instructions that classify the bytes, one that
  // simd::runs().
  void set_fast_path(bool on) { fast_path_ = on; }
  void set_vector_level(simd::Level level) { level_ = level; }

  // The lines that the token loop took so far, of those read: for measurements.
  std::int64_t token_loop_lines() const { return token_loop_lines_; }
  // The size the output buffer reached: for measurements.
  std::size_t output_capacity() const { return output_.capacity(); }

  // With keep-going on, a character that begins no token stops the conversion as before (the
  // output ends with its message, and the run's outcome is UnknownToken), but the input is still
  // read to its end as if that character were a blank, so that every problem of the source is
  // reported; nothing more reaches the output or the line observer. The first UnknownCharacter
  // diagnostic marks the stop.
  void set_keep_going(bool on) { keep_going_ = on; }

  // `tokens` is told of every token from the next call of process_input on; null for none.
  void set_token_observer(TokenObserver* tokens) {
    tokens_ = tokens;
    define_.set_token_observer(tokens);
  }

  // What a run carries from one input line to the next, besides the constants: taken between two
  // lines (by the line source, before it hands over the next line), it lets another processor go
  // on from there as if it had read every line before.
  struct Checkpoint {
    std::int64_t line_number = 0;  // the lines read
    JoinTracker join;
    std::int64_t stopped_line = 0;  // where keep-going passed a character that begins no token
    std::uint64_t output_size = 0;  // every byte put, those dropped after a stop too
    bool at_line_start = true;      // the last byte put was a line break, or none was put
  };
  Checkpoint checkpoint(std::int64_t lines_read) const {
    return {lines_read, join_, stopped_line_, output_.total(), output_.at_line_start()};
  }
  // Goes on from `from`, before the first call of process_input; the constants defined before it
  // are the caller's to define again. After a stop only the stop's message reaches the output.
  void resume(const Checkpoint& from);

 private:
  // Returns false when the line stopped the run on a token that begins nothing.
  // `kAlternative`: the line is converted only to be compared, and judges no quote of its own.
  // `kObserve`: the token observer is told of each token.
  template <bool kAlternative, bool kObserve>
  bool process_line(std::span<char> text, Tokenizer& tokenizer, LineState& line);
  // What the lines of one call of process_input share.
  struct Run {
    Tokenizer& tokenizer;
    LineState& line;
    LineObserver*& lines;  // set to null once nothing more reaches the output
    ProcessResult& result;
  };
  // Starts the next line: its output's start kept, the line observer told.
  void begin_line(Run& run);
  // Takes the next line, `text`, through the token loop, after telling the line observer; returns
  // false when the run stops (a character that begins no token, a failed write).
  bool token_line(std::span<char> text, Run& run);
  // The same for the line at [first, last) (`last` its LF, overwritten), without its CR bytes.
  bool token_line(char* first, char* last, Run& run);
  // Converts a run of whole lines, each ended by its LF; returns false when the run stops.
  bool process_lines(std::span<char> text, Run& run);
  // The same for the `n` bytes at `text`, which end with a LF: one window, classified at once.
  bool process_window(char* text, std::size_t n, Run& run);
  // Writes the window's lines at [first, end) from the masks, the defined names replaced by
  // their values; false when the write failed.
  bool write_together(std::size_t first, std::size_t end);
  // Writes the line `facts` tells of, in the classified window whose text begins at `text`, from
  // the masks.
  void write_line(const char* text, const fast_block::Line& facts, const LineState& line);
  // A line being written from the masks: where its output goes on, the first byte not yet
  // written, its number-like tokens, and what the join tracker needs of it.
  struct LineWrite {
    char* out = nullptr;
    std::size_t from = 0;
    std::size_t numbers = 0;
    bool first_numeric = false;
    fast_block::JoinFacts lead;
  };
  // Writes the line up to each defined name and the name's value in its place, from `w` on.
  LineWrite substitute_names(const fast_block::Line& facts, LineWrite w);
  void handle_delimiter(Tokenizer& tokenizer, LineState& line);
  // `word` is the Word's upper-cased copy at the end of the output, after its blank. Returns true
  // when the DEFINE handler took the word, having written what it needed.
  template <bool kObserve>
  bool handle_word(std::span<char> word, Tokenizer& tokenizer, LineState& line);
  // A character that begins no token at the cursor. Returns true when the line goes on after it.
  bool unknown_character(Tokenizer& tokenizer, const LineState& line);
  // Tells of the CRs that ended no line, the first on line `line_number`.
  void report_cr_joins(const CrJoins& joins, std::int64_t line_number);
  // Tells the token observer of the token just read.
  void observe(const Tokenizer& tokenizer, const LineState& line, TokenRole role);
  // Decides the line's double quote inside a word, whose warning waits: it is kept only where the
  // quote changes the output. `stopped`: the line stopped the run at a character that begins no
  // token.
  void settle_quote(std::span<char> text, const LineState& line, bool stopped);
  // Converts `alternative_` after the output, for a comparison only, from the join `join`; false
  // when it met a DEFINE and stopped there, so that the comparison defines nothing.
  bool convert_alternative(const JoinTracker& join, std::int64_t line_number);

  OutputBuffer output_;
  TokenReports reports_;
  LineObserver* lines_ = nullptr;
  DefineDirective define_;
  std::int64_t line_number_ = 0;         // lines read so far, over every call of process_input
  JoinTracker join_;                     // kept over calls of process_input, as the output is
  std::uint64_t line_output_start_ = 0;  // the output's size when the current line began
  bool fast_path_ = true;
  simd::Level level_ = simd::kBest;
  std::unique_ptr<fast_block::Window> window_;  // made with the first run of lines
  std::int64_t token_loop_lines_ = 0;
  bool keep_going_ = false;
  std::int64_t stopped_line_ = 0;  // where keep-going passed a character that begins no token
  TokenObserver* tokens_ = nullptr;
  std::string alternative_;  // the line with a blank before its quote, kept for its capacity
  bool alternative_defines_ = false;  // the comparison met a DEFINE, and stopped
};

}  // namespace vorpex

#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "engine/byte_sink.h"
#include "engine/define_directive.h"
#include "engine/line_source.h"
#include "engine/line_state.h"
#include "engine/output_buffer.h"
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

// True when `text` is the whole word REM, in any case; a three-byte text is upper-cased in place.
bool is_rem_keyword(std::span<char> text);

// Converts the input line by line into the compacted output, token by token, with no look-ahead
// beyond the current token.
class LineProcessor {
 public:
  // `warnings` receives the tokenizer's unbalanced-quote messages; it may be null.
  explicit LineProcessor(ByteSink& output, ByteSink* warnings = nullptr,
                         std::size_t output_buffer_size = OutputBuffer::kDefaultCapacity)
      : output_(output, output_buffer_size), warnings_(warnings) {}

  // Runs the whole input through the token loop and flushes the output.
  ProcessResult process_input(LineSource& input);

  // The constants defined so far; they stay defined across calls of process_input.
  SymbolTable& symbols() { return define_.symbols(); }

 private:
  // Returns false when the line stopped the run on a token that begins nothing.
  // The line's tokenizer and state are the line loop's own locals, which the compiler keeps in
  // registers; the handlers take them by reference and are inlined into the loop.
  bool process_line(std::span<char> text, Tokenizer& tokenizer, LineState& line);
  void handle_delimiter(Tokenizer& tokenizer, const LineState& line);
  // `word` is the Word's upper-cased copy at the end of the output, after its blank. Returns true
  // when the DEFINE handler took the word, having written what it needed.
  bool handle_word(std::span<char> word, Tokenizer& tokenizer, LineState& line);

  OutputBuffer output_;
  ByteSink* warnings_;
  DefineDirective define_;
  std::int64_t line_number_ = 0;  // lines read so far, over every call of process_input
};

}  // namespace vorpex

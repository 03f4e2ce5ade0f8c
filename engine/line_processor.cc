#include "engine/line_processor.h"

#include "engine/char_class.h"
#include "engine/messages.h"

namespace vorpex {

namespace {

constexpr std::string_view kLineBreak = "\r\n";

}  // namespace

bool is_rem_keyword(std::span<char> text) {
  return char_class::is_keyword(text, "REM");
}

ProcessResult LineProcessor::process_input(LineSource& input) {
  ProcessResult result;
  std::span<char> line;
  while (input.next_line(line)) {
    line_.start_line();
    if (!process_line(line)) {
      result.outcome = Outcome::UnknownToken;
      break;
    }
    if (output_.failed()) break;
  }
  if (!output_.flush()) result.outcome = Outcome::WriteFailed;
  result.line_number = line_.line_number;
  return result;
}

bool LineProcessor::process_line(std::span<char> text) {
  tokenizer_.set_line(text.data());
  const char* const line_end = text.data() + text.size();
  do {
    // A Number, Word or String that follows another one is written after a blank. A Number or
    // Word is copied into the output as it is read, after the blank, so the room reserved is the
    // rest of the line and one byte; what counts is committed by its handling.
    const bool blank = line_.previous_kind != TokenKind::Delimiter;
    char* const out = output_.reserve(static_cast<std::size_t>(line_end - tokenizer_.cursor()) + 1);
    *out = ' ';
    char* const copy = out + (blank ? 1 : 0);
    switch (tokenizer_.next_token_copying(copy)) {
      case TokenKind::Delimiter:
        handle_delimiter();
        break;
      case TokenKind::Number:
        output_.commit(copy + tokenizer_.token_text().size());
        line_.note_number();
        break;
      case TokenKind::Word:
        output_.commit(copy);  // the blank, whatever the word turns out to be
        handle_word({copy, tokenizer_.token_text().size()});
        break;
      case TokenKind::String:
        output_.commit(copy);
        output_.put('"');
        output_.put(tokenizer_.token_view());
        output_.put('"');
        break;
      case TokenKind::None:
        write_line_message(output_, "UNKNOWN ERROR! LINE: ", line_.line_number);
        return false;
    }
    line_.previous_kind = tokenizer_.kind();
    ++line_.token_count;
  } while (!tokenizer_.at_line_end());
  return true;
}

void LineProcessor::handle_delimiter() {
  const char c = tokenizer_.delimiter_char();
  if (c == '\'') {
    // The rest of the line is a comment. A line that began with a number joins the next output
    // line, so it gets a blank instead of the line break.
    if (line_.token_count > 0) {
      if (line_.leading_number) {
        output_.put(' ');
      } else {
        output_.put(kLineBreak);
      }
    }
    tokenizer_.finish_line();
  } else if (c != '\0') {
    output_.put(c);
  } else if (line_.token_count > 0) {
    // The end of the line. A line that holds only its leading number joins the next output line.
    if (line_.leading_number && line_.token_count == 1) {
      output_.put(' ');
    } else {
      output_.put(kLineBreak);
    }
  }
}

void LineProcessor::handle_word(std::span<char> word) {
  if (is_rem_keyword(word)) {
    // The rest of the line goes, with its line break.
    tokenizer_.finish_line();
    return;
  }
  if (define_.handle_word(tokenizer_, word, line_, output_)) return;
  output_.commit(word.data() + word.size());
}

}  // namespace vorpex

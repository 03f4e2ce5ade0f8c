#include "engine/line_processor.h"

#include "engine/char_class.h"
#include "engine/messages.h"

namespace vorpex {

namespace {

constexpr std::string_view kLineBreak = "\r\n";

}  // namespace

bool is_rem_keyword(std::span<char> text) {
  char_class::to_upper_in_place(text);
  return std::string_view(text.data(), text.size()) == "REM";
}

ProcessResult LineProcessor::process_input(LineSource& input) {
  ProcessResult result;
  std::span<char> line;
  while (input.next_line(line)) {
    line_.start_line();
    if (!process_line(line.data())) {
      result.outcome = Outcome::UnknownToken;
      break;
    }
    if (output_.failed()) break;
  }
  if (!output_.flush()) result.outcome = Outcome::WriteFailed;
  result.line_number = line_.line_number;
  return result;
}

bool LineProcessor::process_line(char* text) {
  tokenizer_.set_line(text);
  do {
    switch (tokenizer_.next_token()) {
      case TokenKind::Delimiter:
        handle_delimiter();
        break;
      case TokenKind::Number:
        write_blank_if_joined();
        line_.note_number();
        output_.put(tokenizer_.token_view());
        break;
      case TokenKind::Word:
        handle_word();
        break;
      case TokenKind::String:
        write_blank_if_joined();
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

void LineProcessor::handle_word() {
  write_blank_if_joined();
  const std::span<char> text = tokenizer_.token_text();
  if (is_rem_keyword(text)) {
    // The rest of the line goes, with its line break.
    tokenizer_.finish_line();
    return;
  }
  if (define_.handle_word(tokenizer_, line_, output_)) return;
  output_.put(tokenizer_.token_view());
}

}  // namespace vorpex

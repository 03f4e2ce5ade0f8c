#include "engine/line_processor.h"

#include <cassert>

#include "engine/char_class.h"
#include "engine/fast_line.h"
#include "engine/messages.h"

namespace vorpex {

namespace {

constexpr std::string_view kLineBreak = "\r\n";

// True when the line's first byte after its blanks is a digit: its first token is a Number.
bool begins_with_digit(std::span<const char> text) {
  for (const char c : text) {
    if (!char_class::has(c, char_class::kBlank)) return char_class::has(c, char_class::kDigit);
  }
  return false;
}

}  // namespace

bool is_rem_keyword(std::span<char> text) {
  return char_class::is_keyword(text, "REM");
}

ProcessResult LineProcessor::process_input(LineSource& input) {
  ProcessResult result;
  Tokenizer tokenizer(&reports_);
  LineState line;
  line.line_number = line_number_;
  LineObserver* const lines = lines_;
  std::span<char> text;
  const bool padded = input.readable_padding() >= kLinePadding;
  while (input.next_line(text)) {
    line.start_line();
    if (lines != nullptr) [[unlikely]] {
      output_.flush();
      lines->line_started(line.line_number);
    }
    // The fast path takes the common lines. A line after one that left its output line open (a
    // label joined to what follows) goes through the token loop, which tells whether this line's
    // number joins that one; so does every line that the fast path refuses.
    if (fast_path_ && output_.at_line_start() &&
        FastLine::convert(text, padded, symbols(), output_)) {
      if (open_join_line_ != 0 && begins_with_digit(text)) open_join_line_ = 0;
      if (!output_.at_line_start()) note_join(line);  // the line ended with the joining blank
      if (output_.failed()) break;
      continue;
    }
    if (!process_line(text, tokenizer, line)) {
      result.outcome = Outcome::UnknownToken;
      break;
    }
    if (output_.failed()) break;
  }
  if (!output_.flush()) result.outcome = Outcome::WriteFailed;
  line_number_ = line.line_number;
  result.line_number = line.line_number;
  return result;
}

inline bool LineProcessor::process_line(std::span<char> text, Tokenizer& tokenizer,
                                        LineState& line) {
  tokenizer.set_line(text.data());
  reports_.start_line(text.data(), line.line_number);
  const char* const line_end = text.data() + text.size();
  // No token writes more than twice the bytes it takes from the line (a blank and a one-byte word,
  // an operator, a comment's line break, a closed string with its quotes and blank), an unclosed
  // empty string writes one byte more, and the line end two bytes: room for twice the rest of the
  // line and four bytes holds the line's own output, so the loop writes without checking. Only the
  // DEFINE handler writes text from elsewhere (a value, a message); room is reserved again after.
  const auto reserve_rest = [&] {
    output_.reserve(2 * static_cast<std::size_t>(line_end - tokenizer.cursor()) + 4);
  };
  reserve_rest();
  do {
    // A Number, Word or String that follows another one is written after a blank. A Number or
    // Word is copied into the output as it is read, after the blank; what counts is committed by
    // its handling.
    const bool blank = line.previous_kind != TokenKind::Delimiter;
    char* const out = output_.position();
    assert(output_.room() > static_cast<std::size_t>(line_end - tokenizer.cursor()));
    *out = ' ';
    char* const copy = out + (blank ? 1 : 0);
    switch (tokenizer.next_token_copying(copy)) {
      case TokenKind::Delimiter:
        handle_delimiter(tokenizer, line);
        break;
      case TokenKind::Number:
        if (line.token_count == 0 && open_join_line_ != 0)
          check_joined_number(out, tokenizer.token_view());
        output_.commit(copy + tokenizer.token_text().size());
        line.note_number();
        break;
      case TokenKind::Word:
        output_.commit(copy);  // the blank, whatever the word turns out to be
        if (handle_word({copy, tokenizer.token_text().size()}, tokenizer, line)) reserve_rest();
        break;
      case TokenKind::String:
        output_.commit(copy);
        output_.put('"');
        output_.put(tokenizer.token_view());
        output_.put('"');
        break;
      case TokenKind::None:
        reports_.report(DiagnosticKind::UnknownCharacter, tokenizer.cursor(), TokenKind::None,
                        {tokenizer.cursor(), 1});
        write_line_message(output_, "UNKNOWN ERROR! LINE: ", line.line_number);
        return false;
    }
    line.previous_kind = tokenizer.kind();
    ++line.token_count;
  } while (!tokenizer.at_line_end());
  return true;
}

[[gnu::noinline]] void LineProcessor::note_join(const LineState& line) {
  open_join_line_ = line.line_number;
  join_end_ = output_.total();
}

[[gnu::noinline]] void LineProcessor::check_joined_number(const char* out,
                                                          std::string_view number) {
  // Nothing written since the join: this line's number follows the other line's number.
  if (output_.total_at(out) == join_end_) report_joined_number(number.data(), number);
  open_join_line_ = 0;
}

[[gnu::noinline]] void LineProcessor::report_joined_number(const char* at,
                                                           std::string_view number) {
  reports_.report(DiagnosticKind::NumberJoined, at, TokenKind::Number, number, open_join_line_);
}

inline void LineProcessor::handle_delimiter(Tokenizer& tokenizer, LineState& line) {
  const char c = tokenizer.delimiter_char();
  if (c == '\'') {
    // The rest of the line is a comment. A line that began with a number joins the next output
    // line, so it gets a blank instead of the line break.
    if (line.token_count > 0) {
      if (line.leading_number) {
        output_.put(' ');
        note_join(line);
      } else {
        output_.put(kLineBreak);
      }
    }
    tokenizer.finish_line();
  } else if (c != '\0') {
    output_.put(c);
  } else if (line.token_count > 0) {
    // The end of the line. A line that holds only its leading number joins the next output line.
    if (line.leading_number && line.token_count == 1) {
      output_.put(' ');
      note_join(line);
    } else {
      output_.put(kLineBreak);
    }
  }
}

inline bool LineProcessor::handle_word(std::span<char> word, Tokenizer& tokenizer,
                                       LineState& line) {
  if (is_rem_keyword(word)) {
    // The rest of the line goes, with its line break. After a leading number alone that is the
    // label's join; after a statement it makes the next line continue this one.
    if (line.token_count > 0) {
      if (line.leading_number && line.token_count == 1) {
        note_join(line);
      } else {
        reports_.report(DiagnosticKind::RemJoinsNextLine, tokenizer.token_text().data());
      }
    }
    tokenizer.finish_line();
    return false;
  }
  if (define_.may_handle(word)) {
    // A name first on a line that may follow a joined line: whether nothing was written since the
    // join is known only before its value is.
    const bool after_join =
        line.token_count == 0 && open_join_line_ != 0 && output_.total_at(word.data()) == join_end_;
    const char* const at = tokenizer.token_text().data();
    // The directive works on copies, so that the loop's own tokenizer and state never leave it.
    Tokenizer directive_tokenizer = tokenizer;
    LineState directive_line = line;
    const WordUse use = define_.handle_word(directive_tokenizer, word, directive_line, output_);
    tokenizer = directive_tokenizer;
    line = directive_line;
    // `word` may have moved with the output from here on.
    if (use == WordUse::Substituted && line.token_count == 0 && line.leading_number) {
      // A value that begins with a digit stands as this line's number.
      if (after_join) report_joined_number(at, symbols().found_value());
      open_join_line_ = 0;
    } else if (use == WordUse::Directive && line.token_count > 0 && tokenizer.at_line_end() &&
               !output_.at_line_start()) {
      // A DEFINE that took the rest of the line without a message ends it without its line
      // break: after a label, the label joins the next output line; after a statement, the next
      // line continues this one.
      if (line.leading_number && line.token_count == 1) {
        note_join(line);
      } else {
        reports_.report(DiagnosticKind::DefineJoinsNextLine, at);
      }
    }
    if (use != WordUse::Kept) return true;
  }
  output_.commit(word.data() + word.size());
  return false;
}

}  // namespace vorpex

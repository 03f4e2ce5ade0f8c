#include "engine/line_processor.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "engine/char_class.h"
#include "engine/fast_line.h"
#include "engine/messages.h"
#include "engine/utf8.h"

namespace vorpex {

namespace {

constexpr std::string_view kLineBreak = "\r\n";
constexpr std::string_view kDefineWord = "DEFINE";

// True when `text` is the whole word REM, in any case; a three-byte text is upper-cased in place.
bool is_rem_keyword(std::span<char> text) {
  return char_class::is_keyword(text, "REM");
}

// The bytes of the character at `byte`, which begins no token: a UTF-8 sequence is one character
// to the user, so it is reported, and stepped over, whole. The line's NUL ends every sequence.
std::size_t character_length(const char* byte) {
  return utf8::next_character({byte, strnlen(byte, 4)}).bytes;
}

}  // namespace

ProcessResult LineProcessor::process_input(LineSource& input) {
  ProcessResult result;
  Tokenizer tokenizer(&reports_);
  LineState line;
  line.line_number = line_number_;
  LineObserver* lines = lines_;
  std::span<char> text;
  const bool padded = input.readable_padding() >= kLinePadding;
  const bool fast_path = fast_path_ && tokens_ == nullptr;
  while (input.next_line(text)) {
    line.start_line();
    line_output_start_ = output_.total();
    if (lines != nullptr) [[unlikely]] {
      if (stopped_line_ != 0) {
        lines = nullptr;  // nothing more reaches the output
      } else {
        output_.flush();
        lines->line_started(line.line_number);
      }
    }
    // The fast path takes the common lines, and tells of what a join or a report needs; every
    // line that it refuses goes through the token loop.
    if (fast_path) {
      fast_line::Lead lead;
      if (fast_line::convert(text, padded, symbols(), output_, lead)) {
        if (join_.is_open() || !output_.at_line_start()) [[unlikely]]
          join_.fast_line_converted(text, lead, line.line_number, output_, line_output_start_,
                                    reports_);
        if (output_.failed()) break;
        continue;
      }
    }
    const bool stopped = tokens_ != nullptr ? !process_line<false, true>(text, tokenizer, line)
                                            : !process_line<false, false>(text, tokenizer, line);
    if (stopped) {
      result.outcome = Outcome::UnknownToken;
      break;
    }
    if (output_.failed()) break;
  }
  if (stopped_line_ != 0) result.outcome = Outcome::UnknownToken;
  if (!output_.flush()) result.outcome = Outcome::WriteFailed;
  line_number_ = line.line_number;
  result.line_number = line.line_number;
  return result;
}

void LineProcessor::resume(const Checkpoint& from) {
  line_number_ = from.line_number;
  join_ = from.join;
  stopped_line_ = from.stopped_line;
  output_.resume(from.output_size, from.at_line_start);
  if (stopped_line_ != 0) output_.discard(line_message(kUnknownTokenMessage, stopped_line_));
}

// The line's tokenizer and state are the line loop's own locals, which the compiler keeps in
// registers; the handlers take them by reference and are inlined into the loop, so that their
// addresses are never taken.
template <bool kAlternative, bool kObserve>
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
  // The line's output stays in the buffer until the line is done: a quote inside a word is judged
  // by it, and a joined number read from it.
  output_.keep(true);
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
        if constexpr (kObserve) observe(tokenizer, line, TokenRole::Operator);
        handle_delimiter(tokenizer, line);
        break;
      case TokenKind::Number:
        if constexpr (kObserve)
          observe(tokenizer, line,
                  line.token_count == 0 ? TokenRole::LineNumber : TokenRole::Number);
        if (line.token_count == 0 && join_.is_open())
          join_.number_begins_line(output_, out, tokenizer.token_view(), reports_);
        output_.commit(copy + tokenizer.token_text().size());
        line.note_number();
        break;
      case TokenKind::Word:
        output_.commit(copy);  // the blank, whatever the word turns out to be
        if (handle_word<kObserve>({copy, tokenizer.token_text().size()}, tokenizer, line))
          reserve_rest();
        break;
      case TokenKind::String:
        if constexpr (kObserve) observe(tokenizer, line, TokenRole::String);
        output_.commit(copy);
        output_.put('"');
        output_.put(tokenizer.token_view());
        output_.put('"');
        break;
      case TokenKind::None:
        if constexpr (kAlternative) {
          // Past the stop, the line is compared as keep-going reads it: the character a blank.
          if (stopped_line_ != 0) {
            tokenizer.skip_bytes(character_length(tokenizer.cursor()));
            continue;
          }
        }
        if (!unknown_character(tokenizer, line)) {
          if constexpr (!kAlternative) {
            if (reports_.holding) [[unlikely]]
              settle_quote(text, line);
          }
          output_.keep(false);
          return false;
        }
        reserve_rest();
        continue;  // as if the byte were a blank
    }
    line.previous_kind = tokenizer.kind();
    ++line.token_count;
  } while (!tokenizer.at_line_end());
  if constexpr (!kAlternative) {
    if (reports_.holding) [[unlikely]]
      settle_quote(text, line);
  }
  output_.keep(false);
  return true;
}

bool LineProcessor::unknown_character(Tokenizer& tokenizer, const LineState& line) {
  const char* const byte = tokenizer.cursor();
  const std::size_t length = character_length(byte);
  if (tokens_ != nullptr) observe(tokenizer, line, TokenRole::Unknown);
  reports_.unknown_character(byte, length, stopped_line_);
  if (!keep_going_) {
    write_line_message(output_, "UNKNOWN ERROR! LINE: ", line.line_number);
    return false;
  }
  if (stopped_line_ == 0) {
    // The conversion ends here, with its message; the analysis goes on as a conversion of the
    // source with this character a blank would, into output that is never handed on.
    stopped_line_ = line.line_number;
    output_.discard(line_message("UNKNOWN ERROR! LINE: ", line.line_number));
  }
  tokenizer.skip_bytes(length);
  return true;
}

void LineProcessor::observe(const Tokenizer& tokenizer, const LineState& line, TokenRole role) {
  const std::span<char> text = tokenizer.token_text();
  const char* start = text.data();
  std::size_t length = text.size();
  switch (role) {
    case TokenRole::Operator:
      if (tokenizer.at_line_end()) return;
      if (tokenizer.delimiter_char() == '\'') {
        role = TokenRole::Comment;
        length = 1 + std::strlen(start + 1);
      }
      break;
    case TokenRole::Comment:  // REM and the rest of the line
      length =
          static_cast<std::size_t>(tokenizer.cursor() - start) + std::strlen(tokenizer.cursor());
      break;
    case TokenRole::String:
      start -= 1;
      length = static_cast<std::size_t>(tokenizer.cursor() - start);
      break;
    case TokenRole::Unknown:
      start = tokenizer.cursor();
      length = character_length(start);
      break;
    default:
      break;
  }
  tokens_->token(
      {line.line_number, static_cast<std::size_t>(start - reports_.line_start) + 1, length, role});
}

void LineProcessor::settle_quote(std::span<char> text, const LineState& line) {
  // The same line with a blank before the quote that went into a word, converted with nothing
  // reported, in the output after this line's own bytes: when it writes the same bytes but that
  // blank, the quote lost nothing and needs no warning. A line with a DEFINE is left warned: the
  // comparison could define a name.
  const char* const quote = reports_.held.front().column - 1 + reports_.line_start;
  bool whole = false;
  const std::string_view own = output_.since(line_output_start_, whole);
  const std::string_view line_text(text.data(), text.size());
  const auto is_define = [](char a, char b) { return char_class::to_upper(a) == b; };
  const bool has_define = std::search(line_text.begin(), line_text.end(), kDefineWord.begin(),
                                      kDefineWord.end(), is_define) != line_text.end();
  bool keep = true;
  if (whole && !has_define && quote >= text.data() && quote < text.data() + text.size()) {
    const auto at = static_cast<std::size_t>(quote - text.data());
    alternative_.assign(line_text.substr(0, at));
    alternative_ += ' ';
    alternative_.append(line_text.substr(at));
    // Everything that the line could change outside the output is kept aside.
    DiagnosticObserver* const diagnostics = reports_.diagnostics;
    TokenObserver* const tokens = tokens_;
    const JoinTracker join = join_;
    const bool keep_going = keep_going_;
    reports_.diagnostics = nullptr;
    reports_.holding = false;
    set_token_observer(nullptr);
    join_.close();
    keep_going_ = false;
    output_.keep(true);  // the other line's own reserve may not hand this line's bytes on

    const std::uint64_t own_end = output_.total();
    Tokenizer tokenizer(nullptr);
    LineState alternative_line;
    alternative_line.line_number = line.line_number;
    process_line<true, false>({alternative_.data(), alternative_.size()}, tokenizer,
                              alternative_line);
    bool ignored = false;
    const std::string_view other = output_.since(own_end, ignored);
    // The buffer may have moved with the other line's output.
    const std::string_view own_again =
        output_.since(line_output_start_, ignored).substr(0, own.size());
    // The other output holds one byte more: the blank, wherever it stands among blanks.
    if (other.size() == own_again.size() + 1) {
      const auto [mismatch, unused] =
          std::mismatch(own_again.begin(), own_again.end(), other.begin());
      (void)unused;
      const auto k = static_cast<std::size_t>(mismatch - own_again.begin());
      keep = !(other[k] == ' ' && own_again.substr(k) == other.substr(k + 1));
    }

    output_.take_back(own_end);
    reports_.diagnostics = diagnostics;
    reports_.holding = true;
    set_token_observer(tokens);
    join_ = join;
    keep_going_ = keep_going;
  }
  reports_.settle_quote(keep);
}

[[gnu::always_inline]] inline void LineProcessor::handle_delimiter(Tokenizer& tokenizer,
                                                                   LineState& line) {
  const char c = tokenizer.delimiter_char();
  if (c == '\'') {
    // The rest of the line is a comment. A line that began with a number joins the next output
    // line, so it gets a blank instead of the line break.
    if (line.token_count > 0) {
      if (line.leading_number) {
        output_.put(' ');
        join_.open(line.line_number, output_, line_output_start_);
        if (reports_.open_quote != nullptr) [[unlikely]]
          join_.opened_by_comment(
              static_cast<std::size_t>(tokenizer.token_text().data() - reports_.line_start) + 1,
              reports_.open_word);
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
      join_.open(line.line_number, output_, line_output_start_);
    } else {
      output_.put(kLineBreak);
    }
  }
}

template <bool kObserve>
[[gnu::always_inline]] inline bool LineProcessor::handle_word(std::span<char> word,
                                                              Tokenizer& tokenizer,
                                                              LineState& line) {
  if (is_rem_keyword(word)) {
    if constexpr (kObserve) observe(tokenizer, line, TokenRole::Comment);
    // The rest of the line goes, with its line break. After a leading number alone that is the
    // label's join; after a statement it makes the next line continue this one.
    if (line.token_count > 0) {
      if (line.leading_number && line.token_count == 1) {
        join_.open(line.line_number, output_, line_output_start_);
      } else {
        reports_.report(DiagnosticKind::RemJoinsNextLine, tokenizer.token_text().data(), 3);
      }
    }
    tokenizer.finish_line();
    return false;
  }
  if constexpr (kObserve) {
    const bool defined = symbols().entry_of({word.data(), word.size()}) != nullptr;
    observe(tokenizer, line,
            is_define_keyword(word) ? TokenRole::Directive
            : defined               ? TokenRole::DefinedName
                                    : TokenRole::Word);
  }
  if (define_.may_handle(word)) {
    // A name first on a line that may follow a joined line: whether nothing was written since the
    // join is known only before its value is.
    const bool after_join =
        line.token_count == 0 && join_.is_open() && join_.follows(output_, word.data());
    const char* const at = tokenizer.token_text().data();
    // The directive works on copies, so that the loop's own tokenizer and state never leave it:
    // once their addresses are taken they live in memory instead of registers, and the whole
    // token loop slows (handing them over directly cost 11% more instructions on a realistic
    // source with 50 constants, 13% on a string-heavy one, measured with callgrind).
    Tokenizer directive_tokenizer = tokenizer;
    LineState directive_line = line;
    const WordUse use = define_.handle_word(directive_tokenizer, word, directive_line, output_);
    tokenizer = directive_tokenizer;
    line = directive_line;
    // `word` may have moved with the output from here on.
    if (use == WordUse::Substituted && line.token_count == 0 && line.leading_number) {
      // A value that begins with a digit stands as this line's number.
      if (after_join) join_.report(reports_, at, word.size(), symbols().found_value());
      join_.close();
    } else if (use == WordUse::Directive && line.token_count > 0 && tokenizer.at_line_end() &&
               !output_.at_line_start()) {
      // A DEFINE that took the rest of the line without a message ends it without its line
      // break: after a label, the label joins the next output line; after a statement, the next
      // line continues this one.
      if (line.leading_number && line.token_count == 1) {
        join_.open(line.line_number, output_, line_output_start_);
      } else {
        reports_.report(DiagnosticKind::DefineJoinsNextLine, at, 6);
      }
    }
    if (use != WordUse::Kept) return true;
  }
  output_.commit(word.data() + word.size());
  return false;
}

}  // namespace vorpex

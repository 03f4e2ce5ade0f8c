#include "engine/line_processor.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>
#include <string_view>

#include "engine/byte_mask.h"
#include "engine/char_class.h"
#include "engine/messages.h"
#include "engine/utf8.h"

namespace vorpex {

namespace {

constexpr std::string_view kLineBreak = "\r\n";

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
  reports_.judge_quotes = reports_.diagnostics != nullptr && reports_.diagnostics->judges_quotes();
  std::span<char> text;
  // The common lines go a window at a time, where the input offers runs of whole lines; the rest
  // (the last line without its LF, a line longer than the input holds at once) line by line.
  const bool fast_path = fast_path_ && tokens_ == nullptr;
  // The CRs that end no line are told once, at the first, when the run is done: the line where
  // it stands is counted from the lines done when the piece that held it was taken.
  const CrJoins* const joins = reports_.diagnostics != nullptr ? input.cr_joins() : nullptr;
  std::int64_t join_line = 0;
  const auto note_joins = [&] {
    if (joins != nullptr && join_line == 0 && joins->count != 0) [[unlikely]]
      join_line = line.line_number + joins->lines_before + 1;
  };
  Run run{tokenizer, line, lines, result};
  for (;;) {
    if (fast_path && input.next_lines(text)) {
      note_joins();
      if (!process_lines(text, run)) break;
      continue;
    }
    if (!input.next_line(text)) break;
    note_joins();
    if (!token_line(text, run)) break;
  }
  // A run that stopped read only part of the source and tells nothing of its CRs: keep-going
  // tells what it tells, and more only after it.
  if (join_line != 0 && (keep_going_ || result.outcome == Outcome::Done))
    report_cr_joins(*joins, join_line);
  if (stopped_line_ != 0) result.outcome = Outcome::UnknownToken;
  if (!output_.flush()) result.outcome = Outcome::WriteFailed;
  line_number_ = line.line_number;
  result.line_number = line.line_number;
  return result;
}

void LineProcessor::report_cr_joins(const CrJoins& joins, std::int64_t line_number) {
  reports_.diagnostics->report(joins.diagnostic(line_number));
}

void LineProcessor::begin_line(Run& run) {
  run.line.start_line();
  line_output_start_ = output_.total();
  if (run.lines != nullptr) [[unlikely]] {
    if (stopped_line_ != 0) {
      run.lines = nullptr;  // nothing more reaches the output
    } else {
      output_.flush();
      run.lines->line_started(run.line.line_number);
    }
  }
}

bool LineProcessor::token_line(std::span<char> text, Run& run) {
  begin_line(run);
  ++token_loop_lines_;
  const bool stopped = tokens_ != nullptr
                           ? !process_line<false, true>(text, run.tokenizer, run.line)
                           : !process_line<false, false>(text, run.tokenizer, run.line);
  if (stopped) {
    run.result.outcome = Outcome::UnknownToken;
    return false;
  }
  return !output_.failed();
}

bool LineProcessor::token_line(char* first, char* last, Run& run) {
  char* cr = static_cast<char*>(std::memchr(first, '\r', static_cast<std::size_t>(last - first)));
  if (cr != nullptr) last = std::remove(cr, last, '\r');
  *last = '\0';
  return token_line({first, static_cast<std::size_t>(last - first)}, run);
}

bool LineProcessor::process_lines(std::span<char> text, Run& run) {
  if (!window_) window_ = std::make_unique<fast_block::Window>();
  char* const all = text.data();
  const std::size_t total = text.size();
  for (std::size_t done = 0; done < total;) {
    char* const window_text = all + done;
    std::size_t n = std::min(fast_block::kWindow, total - done);
    if (done + n < total) {
      // The window ends with the last whole line it holds, searched backwards from its end once
      // the window is known to hold a line end: a line longer than a window is not searched
      // backwards over the whole window first.
      if (std::memchr(window_text, '\n', n) == nullptr) {
        // A line longer than a window.
        auto* const end = static_cast<char*>(std::memchr(window_text + n, '\n', total - done - n));
        if (!token_line(window_text, end, run)) return false;
        done += static_cast<std::size_t>(end - window_text) + 1;
        continue;
      }
      n = std::string_view(window_text, n).rfind('\n') + 1;
    }
    if (!process_window(window_text, n, run)) return false;
    done += n;
  }
  return true;
}

namespace {

// Whether a step of a window of `n` bytes holds a quote inside a word.
bool holds_word_quote(const fast_block::Step* steps, std::size_t n) {
  std::uint64_t quotes = 0;
  for (std::size_t s = 0; s * simd::kStep < n; ++s)
    quotes |= steps[s].word_quote;
  return quotes != 0;
}

}  // namespace

bool LineProcessor::process_window(char* text, std::size_t n, Run& run) {
  window_->classify(text, n, symbols(), level_);
  const fast_block::Step* const steps = window_->steps();
  // Lines that need no look of their own are written together, from `first` up to the line in
  // hand; the others one by one. A line observer sees every line on its own, and so does every
  // line of the window after one that defined a name, which its classification did not know.
  bool together = run.lines == nullptr;
  std::size_t start = 0;  // the next line's first byte
  std::size_t first = 0;  // the first byte of the lines not yet written
  // A quote inside a word is told of only to an observer that judges it; with one, a line that
  // holds such a quote goes to the token loop unless the masks show that the quote changes
  // nothing. A window without such a quote has none to judge.
  const bool judge_quotes = reports_.judge_quotes && holds_word_quote(steps, n);
  const auto quote_matters = [&](std::size_t start, std::size_t end) {
    return judge_quotes && fast_block::word_quote_may_matter(*window_, text, start, end, symbols());
  };
  for (std::size_t s = 0; s * simd::kStep < n; ++s) {
    std::uint64_t ends = steps[s].lf;
    if (ends == 0) continue;
    if (together && steps[s].needs_look == 0 && !join_.pending(output_) &&
        !(judge_quotes &&
          fast_block::holds_word_quote(steps, start, s * simd::kStep + mask::highest(ends)))) {
      // A step holds few line ends: counted one by one, without the library's popcount that
      // a build for any x86-64 calls.
      for (std::uint64_t e = ends; e != 0; e &= e - 1)
        ++run.line.line_number;
      start = s * simd::kStep + mask::highest(ends) + 1;
      continue;
    }
    for (; ends != 0; ends &= ends - 1) {
      const auto bit = static_cast<std::size_t>(std::countr_zero(ends));
      const std::size_t end = s * simd::kStep + bit;
      if (together && ((steps[s].needs_look >> bit) & 1) == 0 && !join_.pending(output_) &&
          !quote_matters(start, end)) {
        ++run.line.line_number;
        start = end + 1;
        continue;
      }
      if (!write_together(first, start)) return false;
      const fast_block::Line facts = fast_block::read_line(steps, start, end);
      if (facts.refused || quote_matters(start, end)) {
        const std::size_t defined = symbols().size();
        if (!token_line(text + start, text + end, run)) return false;
        if (symbols().size() != defined) together = false;
      } else {
        begin_line(run);
        if (!facts.empty) {
          write_line(text, facts, run.line);
          if (output_.failed()) return false;
        }
      }
      start = end + 1;
      first = start;
    }
  }
  return write_together(first, start);
}

bool LineProcessor::write_together(std::size_t first, std::size_t end) {
  if (first == end) return true;
  const fast_block::Step* const steps = window_->steps();
  std::size_t from = first;
  char* o = output_.reserve(2 * (end - first) + simd::kGroup);
  if (!symbols().empty()) {
    // Defined names, looked up upper-cased, give way to their values.
    const char* const converted = window_->converted();
    for (std::size_t s = first / simd::kStep; s * simd::kStep < end; ++s) {
      for (std::uint64_t words = steps[s].candidate; words != 0; words &= words - 1) {
        const std::size_t at = s * simd::kStep + static_cast<std::size_t>(std::countr_zero(words));
        if (at < first) continue;
        if (at >= end) break;
        const std::size_t length = fast_block::token_length(steps, at);
        if (!symbols().find_upper_padded({converted + at, length})) continue;
        const std::string_view value = symbols().found_value();
        o = fast_block::emit_lines(*window_, from, at, o);
        output_.commit(o);
        o = output_.reserve(value.size() + 2 * (end - at) + simd::kGroup);
        std::memcpy(o, value.data(), value.size());
        o += value.size();
        from = at + length;
      }
    }
  }
  output_.commit(fast_block::emit_lines(*window_, from, end, o));
  return !output_.failed();
}

LineProcessor::LineWrite LineProcessor::substitute_names(const fast_block::Line& facts,
                                                         LineWrite w) {
  const fast_block::Window& window = *window_;
  const char* const converted = window.converted();
  const fast_block::Step* const steps = window.steps();
  const std::size_t start = facts.start;
  const std::size_t cut = facts.cut;
  // Once a name has given way to its value, the line's output stays in the buffer until the
  // line is done, as the token loop keeps it.
  const auto substitute = [&](std::size_t at, std::size_t length) {
    if (!symbols().may_hold(length, converted[at], converted[at + length - 1]) ||
        !symbols().find_upper_padded({converted + at, length}))
      return;
    const std::string_view value = symbols().found_value();
    output_.keep_since(line_output_start_);
    w.out = fast_block::emit(window, w.from, at, w.out);
    output_.commit(w.out);
    w.out = output_.reserve(value.size() + (cut - at) + 2 + simd::kGroup);
    std::memcpy(w.out, value.data(), value.size());
    w.out += value.size();
    w.from = at + length;
    if (!value.empty() && char_class::has(value.front(), char_class::kDigit)) {
      ++w.numbers;
      if (at == facts.first) {
        w.first_numeric = true;
        w.lead.value = value;
      }
    }
  };
  if (facts.end - start < simd::kStep) {
    using fast_block::Step;
    const std::uint64_t tokens = fast_block::bits_at(steps, &Step::token, start, facts.end);
    for (std::uint64_t words = fast_block::bits_at(steps, &Step::word, start, facts.end) &
                               mask::below<std::uint64_t>(cut - start);
         words != 0; words &= words - 1) {
      const auto bit = static_cast<std::size_t>(std::countr_zero(words));
      substitute(start + bit, static_cast<std::size_t>(std::countr_one(tokens >> bit)));
    }
    return w;
  }
  for (std::size_t s = start / simd::kStep; s * simd::kStep < cut; ++s) {
    for (std::uint64_t words = steps[s].word; words != 0; words &= words - 1) {
      const std::size_t at = s * simd::kStep + static_cast<std::size_t>(std::countr_zero(words));
      if (at < start) continue;
      if (at >= cut) break;
      substitute(at, fast_block::token_length(steps, at));
    }
  }
  return w;
}

void LineProcessor::write_line(const char* text, const fast_block::Line& facts,
                               const LineState& line) {
  const fast_block::Step* const steps = window_->steps();
  const std::size_t start = facts.start;
  const std::size_t cut = facts.cut;
  LineWrite w;
  w.out = output_.reserve(cut - start + 2 + simd::kGroup);
  w.from = start;
  w.numbers = facts.numbers;
  w.first_numeric = fast_block::bit(steps, &fast_block::Step::numeric, facts.first);
  // Defined names, looked up upper-cased, give way to their values.
  if (!symbols().empty()) [[unlikely]]
    w = substitute_names(facts, w);
  char* o = fast_block::emit(*window_, w.from, cut, w.out);
  fast_block::JoinFacts& lead = w.lead;
  if (w.first_numeric) {
    lead.start = facts.first - start;
    lead.length = fast_block::token_length(steps, facts.first);
  }
  // A line whose only number-like token is its first joins the next output line: at its comment,
  // or at its end when that token is the only one.
  const bool leading_number = w.first_numeric && w.numbers == 1;
  if (facts.rem) {
    // A blank stays before REM after a value: the blanks before it kept one as the blank between
    // two values, and a string that REM follows at once gets one. After a number alone the line
    // is a label that joins the next output line; after a statement the next line continues it.
    if (text[cut - 1] == '"') *o++ = ' ';
    if (!(leading_number && facts.alone)) lead.rem = cut - start;
  } else if (leading_number && (facts.comment || facts.alone)) {
    *o++ = ' ';
  } else {
    *o++ = '\r';
    *o++ = '\n';
  }
  output_.commit(o);
  output_.stop_keeping();
  if (join_.is_open() || !output_.at_line_start()) [[unlikely]]
    join_.fast_line_converted({text + start, facts.end - start}, lead, line.line_number, output_,
                              line_output_start_, reports_);
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
  // The line's output stays in the buffer until the line is done: a quote inside a word is judged
  // by it, and a joined number read from it. Kept before room is made, so that what a comparison
  // wrote after the line's own output stays too.
  output_.keep_since(line_output_start_);
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
        if constexpr (kAlternative) {
          if (is_define_keyword({copy, tokenizer.token_text().size()})) [[unlikely]] {
            alternative_defines_ = true;
            output_.stop_keeping();
            return false;
          }
        }
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
              settle_quote(text, line, true);
          }
          output_.stop_keeping();
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
      settle_quote(text, line, false);
  }
  output_.stop_keeping();
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

void LineProcessor::settle_quote(std::span<char> text, const LineState& line, bool stopped) {
  // The same line with a blank before the quote that went into a word, converted with nothing
  // reported, in the output after this line's own bytes: when it writes the same bytes but that
  // blank, the quote lost nothing and needs no warning. A line whose other form reads a DEFINE is
  // left warned: the comparison stops there rather than define a name.
  const char* const quote = reports_.held.front().column - 1 + reports_.line_start;
  bool whole = false;
  const std::string_view own = output_.since(line_output_start_, whole);
  const std::string_view line_text(text.data(), text.size());
  bool keep = true;
  if (whole && quote >= text.data() && quote < text.data() + text.size()) {
    // Everything that the line could change outside the output is kept aside.
    DiagnosticObserver* const diagnostics = reports_.diagnostics;
    TokenObserver* const tokens = tokens_;
    const JoinTracker join = join_;
    const bool keep_going = keep_going_;
    const std::int64_t stopped_line = stopped_line_;
    reports_.diagnostics = nullptr;
    reports_.holding = false;
    set_token_observer(nullptr);
    keep_going_ = false;

    const std::uint64_t own_end = output_.total();
    bool judged = true;
    std::uint64_t own_start = line_output_start_;
    std::size_t own_size = own.size();
    if (stopped) {
      // The line stopped at a character that begins no token, and its output ends there. Both
      // forms are judged whole, as keep-going reads them, with that character a blank: the quote
      // is warned of alike with keep-going and without.
      stopped_line_ = line.line_number;
      alternative_.assign(line_text);
      judged = convert_alternative(join, line.line_number);
      own_start = own_end;
      own_size = static_cast<std::size_t>(output_.total() - own_end);
    }
    const auto at = static_cast<std::size_t>(quote - text.data());
    alternative_.assign(line_text.substr(0, at));
    alternative_ += ' ';
    alternative_.append(line_text.substr(at));
    const std::uint64_t other_start = output_.total();
    judged = judged && convert_alternative(join, line.line_number);
    bool ignored = false;
    const std::string_view other = output_.since(other_start, ignored);
    // The buffer may have moved with the other line's output.
    const std::string_view own_again = output_.since(own_start, ignored).substr(0, own_size);
    // The other output holds one byte more: the blank, wherever it stands among blanks.
    if (judged && other.size() == own_again.size() + 1) {
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
    stopped_line_ = stopped_line;
  }
  reports_.settle_quote(keep);
}

bool LineProcessor::convert_alternative(const JoinTracker& join, std::int64_t line_number) {
  // The line's own output and what the comparison wrote before stay in the buffer: the line
  // conversion keeps from the line's start.
  join_ = join;
  join_.close();
  Tokenizer tokenizer(nullptr);
  LineState alternative_line;
  alternative_line.line_number = line_number;
  alternative_defines_ = false;
  process_line<true, false>({alternative_.data(), alternative_.size()}, tokenizer,
                            alternative_line);
  return !alternative_defines_;
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
        if (reports_.open_quote != nullptr && reports_.judge_quotes) [[unlikely]]
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

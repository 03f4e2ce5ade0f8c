#include "engine/tokenizer.h"

#include "engine/char_class.h"

namespace vorpex {

using char_class::has;

// The line's fields live in TokenReports, not in the tokenizer, so that the tokenizer stays small
// enough to live in registers; and this is static, so that its address is never taken in the hot
// loop.
char* Tokenizer::finish_quoted_word(TokenReports* reports, char* start, char* quote, char* copy,
                                    bool upper, TokenKind kind) {
  char* end = quote;
  while (!char_class::has(*end, char_class::kTerminator)) {
    if (copy != nullptr) *copy++ = upper ? char_class::to_upper(*end) : *end;
    ++end;
  }
  if (reports != nullptr) {
    reports->quote_inside({start, static_cast<std::size_t>(end - start)}, kind);
  }
  return end;
}

void TokenReports::report(DiagnosticKind kind, const char* byte, std::size_t length,
                          TokenKind found_kind, std::string_view found, std::int64_t other_line,
                          std::string_view other, std::uint64_t message_at) {
  if (diagnostics == nullptr) return;
  const auto column = static_cast<std::size_t>(byte - line_start) + 1;
  Diagnostic d;
  d.kind = kind;
  d.line = line_number;
  d.column = column;
  d.end_column = column + length;
  d.found_kind = found_kind;
  d.found = found;
  d.other_line = other_line;
  d.other = other;
  d.message_at = message_at;
  deliver(d);
}

void TokenReports::deliver(const Diagnostic& diagnostic) {
  if (diagnostics == nullptr) return;
  // A character that begins no token is a blank to what follows it (keep-going reads on as if it
  // were one), so it does not part a quote's warning from the string that the quote left open.
  if (!diagnostic.note && diagnostic.kind != DiagnosticKind::UnknownCharacter)
    last_was_quote = diagnostic.kind == DiagnosticKind::QuoteInWord;
  if (!diagnostic.note) quote_unshown = false;
  if (!holding) {
    diagnostics->report(diagnostic);
    return;
  }
  held.push_back(diagnostic);
  held_at.push_back(held_text.size());
  held_text.append(diagnostic.found);
  held_text.append(diagnostic.other);
}

void TokenReports::unclosed_string(const char* quote, const char* end) {
  if (diagnostics == nullptr) return;
  const auto column = static_cast<std::size_t>(quote - line_start) + 1;
  Diagnostic d;
  d.kind = DiagnosticKind::UnclosedString;
  d.line = line_number;
  d.column = column;
  d.end_column = column + static_cast<std::size_t>(end - quote);
  // The string the user closed here was opened by a quote that went into a word: this one opens a
  // new string instead, an after-effect of that warning.
  if (open_quote != nullptr && last_was_quote && !quote_unshown) {
    d.note = true;
    d.related_column = static_cast<std::size_t>(open_quote - line_start) + 1;
  }
  deliver(d);
}

void TokenReports::quote_inside(std::string_view token, TokenKind kind) {
  std::size_t quotes = 0;
  for (const char c : token)
    quotes += c == '"' ? 1 : 0;
  if (quotes % 2 != 0) {
    if (open_quote == nullptr) {
      open_quote = token.data() + token.rfind('"');
      open_word = token;
    } else {
      open_quote = nullptr;
    }
  }
  if (quote_line == line_number) return;
  quote_line = line_number;
  if (diagnostics == nullptr) return;
  if (!judge_quotes) {
    // Not judged, the quote is not warned of (the fast path reads its line as any other); what it
    // causes is told as if it were, and stands on its own but after an error that it explains.
    last_was_quote = true;
    quote_unshown = true;
    return;
  }
  const char* const quote = token.data() + token.find('"');
  // Whether the quote changes the output is known only at the end of the line.
  holding = true;
  report(DiagnosticKind::QuoteInWord, quote,
         static_cast<std::size_t>(token.data() + token.size() - quote), kind, token);
}

void TokenReports::unknown_character(const char* byte, std::size_t length,
                                     std::int64_t stopped_at) {
  report(DiagnosticKind::UnknownCharacter, byte, length, TokenKind::None, {byte, length},
         stopped_at);
  if (open_quote == nullptr) return;
  deliver_note(DiagnosticKind::QuoteInWord, line_number,
               static_cast<std::size_t>(open_quote - line_start) + 1, open_word);
}

void TokenReports::deliver_note(DiagnosticKind kind, std::int64_t line, std::size_t column,
                                std::string_view word) {
  if (diagnostics == nullptr) return;
  Diagnostic note;
  note.kind = kind;
  note.line = line;
  note.column = column;
  note.end_column = column + 1;
  note.found_kind = TokenKind::Word;
  note.found = word;
  note.note = true;
  note.related_column = column;
  deliver(note);
}

void TokenReports::settle_quote(bool keep_quote) {
  holding = false;
  bool dropped = false;  // the last diagnostic passed over was the quote warning
  const std::string_view texts = held_text;
  for (std::size_t i = 0; i < held.size(); ++i) {
    Diagnostic& d = held[i];
    d.found = texts.substr(held_at[i], d.found.size());
    d.other = texts.substr(held_at[i] + d.found.size(), d.other.size());
    if (!keep_quote && !d.note && d.kind == DiagnosticKind::QuoteInWord) {
      dropped = true;
      continue;
    }
    if (d.note && dropped) d.note = false;  // its cause is not reported: it stands alone
    if (!d.note) dropped = false;
    diagnostics->report(d);
  }
  held.clear();
  held_at.clear();
  held_text.clear();
}

}  // namespace vorpex

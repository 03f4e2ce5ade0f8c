#include "cli/diagnostics.h"

#include "platform/error_number.h"

namespace vorpex::cli {

namespace {

constexpr std::size_t kShownBytes = 40;

// What the directive found where it wanted something else.
std::string found_token(const Diagnostic& d) {
  switch (d.found_kind) {
    case TokenKind::String:
      return "the string \"" + escaped(d.found) + "\"";
    case TokenKind::Delimiter:
      if (d.found.empty()) return "the end of the line";
      return quoted(d.found);
    case TokenKind::None:
      return "the character " + quoted(d.found);
    default:
      return quoted(d.found);
  }
}

std::string line_text(std::int64_t line) {
  return line == 0 ? std::string("on the command line") : "at line " + std::to_string(line);
}

}  // namespace

void ErrorLog::line(std::string_view text) {
  pending_.append(text);
  pending_.append(platform::kNativeLineEnd);
  if (pending_.size() >= kFlushSize) flush();
}

bool ErrorLog::flush() {
  if (!pending_.empty() && !failed_ && !out_.write(pending_)) failed_ = true;
  pending_.clear();
  return !failed_;
}

std::string quoted(std::string_view text) {
  return "'" + escaped(text) + "'";
}

std::string escaped(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < text.size() && i < kShownBytes; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7f) {
      out.push_back(static_cast<char>(c));
    } else {
      out += "\\x";
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  if (text.size() > kShownBytes) out += "...";
  return out;
}

std::string describe(const Diagnostic& d) {
  switch (d.kind) {
    case DiagnosticKind::UnknownCharacter:
      return "the character " + quoted(d.found) + " begins no token; the conversion stops here";
    case DiagnosticKind::EqualsExpected:
      return "DEFINE: '=' expected after the name, found " + found_token(d);
    case DiagnosticKind::ValueExpected:
      return "DEFINE: a name or a number expected after '=', found " + found_token(d);
    case DiagnosticKind::AlreadyDefined:
      return "DEFINE: " + quoted(d.found) + " is already defined " + line_text(d.other_line) +
             "; the first definition stays";
    case DiagnosticKind::TableFull:
      return "DEFINE: " + quoted(d.found) + " is not defined: the table is full (1000 constants)";
    case DiagnosticKind::UnclosedString:
      return "string not closed before the end of the line";
    case DiagnosticKind::QuoteInWord:
      return std::string("double quote inside ") +
             (d.found_kind == TokenKind::Number ? "the number " : "the word ") + quoted(d.found) +
             ": the quoted text becomes part of it; a blank before the quote keeps it a string";
    case DiagnosticKind::NumberJoined:
      return "line number " + quoted(d.found) + " is joined to the number of line " +
             std::to_string(d.other_line) +
             " on one output line: a line that holds only a number, or a number and a comment, "
             "joins the next line";
    case DiagnosticKind::RemJoinsNextLine:
      return "REM after a statement takes the line break with it, so the next line continues "
             "this one; put the comment on a line of its own";
  }
  return "unknown diagnostic";
}

void DiagnosticPrinter::report(const Diagnostic& d) {
  const bool error = is_error(d.kind);
  if (!error && !warnings_) return;
  (error ? errors_ : warning_count_) += 1;
  log_.line(file_ + ":" + std::to_string(d.line) + ":" + std::to_string(d.column) +
            (error ? ": error: " : ": warning: ") + describe(d));
}

}  // namespace vorpex::cli

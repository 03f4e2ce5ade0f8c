#include "cli/diagnostics.h"

#include <charconv>
#include <cstdint>

#include "platform/error_number.h"

namespace vorpex::cli {

namespace {

constexpr std::size_t kShownBytes = 40;

void append_escaped(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
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
}

void append_quoted(std::string& out, std::string_view text) {
  out.push_back('\'');
  append_escaped(out, text);
  out.push_back('\'');
}

void append_number(std::string& out, std::int64_t number) {
  char digits[24];
  const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, number);
  (void)ec;  // 24 bytes hold any 64-bit number
  out.append(digits, end);
}

// What the directive found where it wanted something else.
void append_found(std::string& out, const Diagnostic& d) {
  switch (d.found_kind) {
    case TokenKind::String:
      out += "the string \"";
      append_escaped(out, d.found);
      out += '"';
      return;
    case TokenKind::Delimiter:
      if (d.found.empty()) {
        out += "the end of the line";
        return;
      }
      break;
    case TokenKind::None:
      out += "the character ";
      break;
    default:
      break;
  }
  append_quoted(out, d.found);
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
  std::string out;
  append_quoted(out, text);
  return out;
}

void describe(std::string& out, const Diagnostic& d) {
  switch (d.kind) {
    case DiagnosticKind::UnknownCharacter:
      out += "the character ";
      append_quoted(out, d.found);
      out += " begins no token; the conversion stops here";
      return;
    case DiagnosticKind::EqualsExpected:
      out += "DEFINE: '=' expected after the name, found ";
      append_found(out, d);
      return;
    case DiagnosticKind::ValueExpected:
      out += "DEFINE: a name or a number expected after '=', found ";
      append_found(out, d);
      return;
    case DiagnosticKind::AlreadyDefined:
      out += "DEFINE: ";
      append_quoted(out, d.found);
      if (d.other_line == 0) {
        out += " is already defined on the command line";
      } else {
        out += " is already defined at line ";
        append_number(out, d.other_line);
      }
      out += "; the first definition stays";
      return;
    case DiagnosticKind::TableFull:
      out += "DEFINE: ";
      append_quoted(out, d.found);
      out += " is not defined: the table is full (1000 constants)";
      return;
    case DiagnosticKind::UnclosedString:
      out += "string not closed before the end of the line";
      return;
    case DiagnosticKind::QuoteInWord:
      out += d.found_kind == TokenKind::Number ? "double quote inside the number "
                                               : "double quote inside the word ";
      append_quoted(out, d.found);
      out += ": the quoted text becomes part of it; a blank before the quote keeps it a string";
      return;
    case DiagnosticKind::NumberJoined:
      out += "line number ";
      append_quoted(out, d.found);
      out += " is joined to the number of line ";
      append_number(out, d.other_line);
      out +=
          " on one output line: a line that holds only a number, or a number and a comment or a "
          "DEFINE, joins the next line";
      return;
    case DiagnosticKind::RemJoinsNextLine:
      out +=
          "REM after a statement takes the line break with it, so the next line continues this "
          "one; put the comment on a line of its own";
      return;
    case DiagnosticKind::DefineJoinsNextLine:
      out +=
          "DEFINE after a statement takes the line break with it, so the next line continues "
          "this one; put the DEFINE on a line of its own";
      return;
  }
}

void DiagnosticPrinter::report(const Diagnostic& d) {
  const bool error = is_error(d.kind);
  if (!error && !warnings_) return;
  (error ? errors_ : warning_count_) += 1;
  // One line, built in a buffer that is kept, so that a run full of warnings allocates nothing.
  line_.assign(file_);
  line_ += ':';
  append_number(line_, d.line);
  line_ += ':';
  append_number(line_, static_cast<std::int64_t>(d.column));
  line_ += error ? ": error: " : ": warning: ";
  describe(line_, d);
  log_.line(line_);
}

}  // namespace vorpex::cli

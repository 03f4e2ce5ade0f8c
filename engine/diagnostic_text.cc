#include "engine/diagnostic_text.h"

#include "engine/utf8.h"
#include "engine/writer.h"

#include <charconv>
#include <cstdint>

namespace vorpex {

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

// " (U+20AC)" after a character of several bytes that is valid UTF-8.
void append_code_point(std::string& out, std::string_view text) {
  if (text.size() < 2) return;
  const utf8::Character c = utf8::next_character(text);
  if (!c.valid || c.bytes != text.size()) return;
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += " (U+";
  const int digits = c.code > 0xFFFFF ? 6 : c.code > 0xFFFF ? 5 : 4;
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
    out.push_back(kHex[(c.code >> shift) & 15]);
  out += ')';
}

void append_quoted(std::string& out, std::string_view text) {
  out.push_back('\'');
  append_escaped(out, text);
  out.push_back('\'');
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

void append_number(std::string& out, std::int64_t number) {
  out.append(Decimal(number).view());
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
      append_code_point(out, d.found);
      if (d.other_line == 0) {
        out += " begins no token; the conversion stops here";
      } else {
        out += " begins no token (the conversion stopped at line ";
        append_number(out, d.other_line);
        out += ')';
      }
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
      if (d.note) {
        out += ": the double quote at column ";
        append_number(out, static_cast<std::int64_t>(d.related_column));
        out += " went into a word, so this quote opens a string instead of closing one";
      }
      return;
    case DiagnosticKind::QuoteInWord:
      if (d.note) {
        out += "this double quote went into the word ";
        append_quoted(out, d.found);
        out += ", so the text after it, meant as a string, is read as tokens";
        return;
      }
      out += d.found_kind == TokenKind::Number ? "double quote inside the number "
                                               : "double quote inside the word ";
      append_quoted(out, d.found);
      out += ": the quoted text becomes part of it; a blank before the quote keeps it a string";
      return;
    case DiagnosticKind::NumberJoined:
      if (d.note) {
        out +=
            "this apostrophe began a comment, which took the line break with it: the double "
            "quote before it went into the word ";
        append_quoted(out, d.found);
        out += " instead of opening the string that the apostrophe was meant to be in";
        return;
      }
      out += "line number ";
      append_quoted(out, d.found);
      out += " is joined to ";
      append_quoted(out, d.other);
      out += " of input line ";
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
    case DiagnosticKind::DefineOverridden:
      out += "DEFINE: ";
      append_quoted(out, d.found);
      out += " is defined on the command line; the value given there is used";
      return;
    case DiagnosticKind::CrJoinsLines:
      out +=
          "a CR before this text ends no line: every CR is dropped and only LF ends a line, so "
          "this text continues the line before it";
      if (d.count > 1) {
        out += " (";
        append_number(out, static_cast<std::int64_t>(d.count));
        out += " such CRs in the source)";
      }
      return;
  }
}

std::string_view define_refusal(DefineResult result) {
  switch (result) {
    case DefineResult::MissingEquals:
      return "expected NAME=VALUE";
    case DefineResult::BadName:
      return "the name must be one word";
    case DefineResult::BadValue:
      return "the value must be one name or one number";
    case DefineResult::AlreadyDefined:
      return "the name is already defined";
    case DefineResult::TableFull:
      return "the table is full (1000 constants)";
    case DefineResult::Defined:
      break;
  }
  return "";
}

std::string_view diagnostic_code(DiagnosticKind kind) {
  switch (kind) {
    case DiagnosticKind::UnknownCharacter:
      return "unknown-character";
    case DiagnosticKind::EqualsExpected:
      return "equals-expected";
    case DiagnosticKind::ValueExpected:
      return "value-expected";
    case DiagnosticKind::AlreadyDefined:
      return "already-defined";
    case DiagnosticKind::TableFull:
      return "table-full";
    case DiagnosticKind::UnclosedString:
      return "unclosed-string";
    case DiagnosticKind::QuoteInWord:
      return "quote-in-word";
    case DiagnosticKind::NumberJoined:
      return "number-joined";
    case DiagnosticKind::RemJoinsNextLine:
      return "rem-joins-next-line";
    case DiagnosticKind::DefineJoinsNextLine:
      return "define-joins-next-line";
    case DiagnosticKind::DefineOverridden:
      return "define-overridden";
    case DiagnosticKind::CrJoinsLines:
      return "cr-joins-lines";
  }
  return "unknown";
}

}  // namespace vorpex

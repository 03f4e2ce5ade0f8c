#include "session/words.h"

#include <vector>

#include "engine/char_class.h"
#include "engine/line_source.h"
#include "engine/tokenizer.h"
#include "session/analysis_collector.h"
#include "session/keywords.h"

namespace vorpex {

namespace {

// The text as a line the tokenizer reads: NUL-ended, with the padding it may read past.
std::vector<char> line_of(std::string_view text) {
  std::vector<char> line(text.begin(), text.end());
  line.resize(text.size() + 1 + kLinePadding, '\0');
  return line;
}

std::string hex_byte(unsigned char c) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return std::string("0x") + kDigits[c >> 4] + kDigits[c & 15];
}

}  // namespace

std::string one_word_problem(std::string_view name) {
  const std::string quoted = "'" + std::string(name) + "'";
  if (name.empty()) return "a name cannot be empty";
  for (const char byte : name) {
    const auto c = static_cast<unsigned char>(byte);
    if (c == '"')
      return quoted + " holds a double quote, which would take the text after it into every use";
    if (c == '\t') return quoted + " holds a TAB, which ends a word";
    if (c == 0x1A) return quoted + " holds the byte 0x1A, which ends the converter's input";
    if (c < 0x20 || c == 0x7F) return quoted + " holds the control byte " + hex_byte(c);
    if (c == ' ') return quoted + " holds a blank, which ends a word";
  }
  std::vector<char> line = line_of(name);
  Tokenizer tokenizer;
  tokenizer.set_line(line.data());
  if (tokenizer.next_token() != TokenKind::Word || tokenizer.token_text().data() != line.data())
    return quoted + " does not begin with a letter, as a name does";
  if (tokenizer.token_text().size() != name.size())
    return quoted + " is not one word: the converter reads '" +
           std::string(tokenizer.token_view()) + "' and then '" +
           std::string(name.substr(tokenizer.token_text().size())) + "'";
  if (tokenizer.next_token() != TokenKind::Delimiter || !tokenizer.at_line_end())
    return quoted + " is not one word as the converter reads it";
  if (same_word(name, "REM") || same_word(name, "DEFINE"))
    return quoted + " is a word of the converter's own";
  return {};
}

bool expects_line_number(std::string_view before) {
  std::vector<char> line = line_of(before);
  Tokenizer tokenizer;
  tokenizer.set_line(line.data());
  const char* const end = line.data() + before.size();
  bool expect = false;   // the last token was a jump's word, or a comma of its list
  bool in_list = false;  // the last token was a jump's number
  bool after_go = false;
  bool typing = false;  // the last token is the number being typed where one is expected
  for (;;) {
    const TokenKind kind = tokenizer.next_token();
    if (kind == TokenKind::None || tokenizer.at_line_end()) break;
    const std::string_view text = tokenizer.token_view();
    typing = false;
    switch (kind) {
      case TokenKind::Word: {
        // A comment runs to the end of the line.
        if (same_word(text, "REM")) return false;
        const bool go = after_go;
        after_go = same_word(text, "GO");
        const bool jump =
            is_jump_word(text) || (go && (same_word(text, "TO") || same_word(text, "SUB")));
        expect = jump;
        in_list = false;
        break;
      }
      case TokenKind::Number:
        typing = expect && text.data() + text.size() == end;
        in_list = expect;
        expect = false;
        after_go = false;
        break;
      case TokenKind::Delimiter:
        if (tokenizer.delimiter_char() == '\'') return false;
        expect = in_list && tokenizer.delimiter_char() == ',';
        in_list = false;
        after_go = false;
        break;
      default:  // a string, to its quote or to the end of the line
        if (text.data() + text.size() >= end) return false;
        expect = in_list = after_go = false;
        break;
    }
  }
  return expect || typing;
}

}  // namespace vorpex

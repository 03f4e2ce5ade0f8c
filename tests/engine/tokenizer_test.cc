#include "engine/tokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/diagnostics.h"
#include "tests/support/engine_probes.h"
#include "tests/support/memory_io.h"

namespace vorpex {
namespace {

// A token as the tests spell it: its kind and its text (the operator for a delimiter).
struct Token {
  TokenKind kind;
  std::string text;
  bool operator==(const Token&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Token& t) {
  return os << static_cast<int>(t.kind) << ":'" << t.text << "'";
}

constexpr TokenKind D = TokenKind::Delimiter;
constexpr TokenKind N = TokenKind::Number;
constexpr TokenKind W = TokenKind::Word;
constexpr TokenKind S = TokenKind::String;
constexpr TokenKind X = TokenKind::None;

// Tokenizes `line` up to its end (or a None token), collecting the tokens and the warnings.
std::vector<Token> tokenize(std::string line, std::string* warnings = nullptr) {
  testing::StringSink sink;
  cli::QuoteWarnings quote_warnings(sink, nullptr);
  TokenReports reports;
  reports.diagnostics = &quote_warnings;
  Tokenizer tokenizer(&reports);
  tokenizer.set_line(line.data());
  std::vector<Token> tokens;
  for (int guard = 0; guard < 1000; ++guard) {
    const TokenKind kind = tokenizer.next_token();
    tokens.push_back({kind, std::string(tokenizer.token_view())});
    if (kind == TokenKind::None || tokenizer.at_line_end()) break;
  }
  if (warnings != nullptr) *warnings = sink.text;
  return tokens;
}

struct Case {
  std::string line;
  std::vector<Token> tokens;
};

TEST(TokenizerTest, SplitsLinesIntoTokens) {
  const std::vector<Case> cases = {
      {"", {{D, ""}}},
      {"  \t  ", {{D, ""}}},
      {"A+B", {{W, "A"}, {D, "+"}, {W, "B"}, {D, ""}}},
      {" 10 PRINT x", {{N, "10"}, {W, "PRINT"}, {W, "x"}, {D, ""}}},
      {"\"Hello, World\"", {{S, "Hello, World"}, {D, ""}}},
      {"\"\"", {{S, ""}, {D, ""}}},
      {"PRINT\"HI\"", {{W, "PRINT\"HI\""}, {D, ""}}},
      {"12AB 0x1f 1.5", {{N, "12AB"}, {N, "0x1f"}, {N, "1.5"}, {D, ""}}},
      {"A1 A$ X.Y B: q_r!#?",
       {{W, "A1"}, {W, "A$"}, {W, "X.Y"}, {W, "B:"}, {W, "q_r!#?"}, {D, ""}}},
      {"DON'T", {{W, "DON"}, {D, "'"}, {W, "T"}, {D, ""}}},
      {"a&b|c-d*e/f%g;h(i),j>k<l=m",
       {{W, "a"}, {D, "&"}, {W, "b"}, {D, "|"}, {W, "c"}, {D, "-"}, {W, "d"}, {D, "*"}, {W, "e"},
        {D, "/"}, {W, "f"}, {D, "%"}, {W, "g"}, {D, ";"}, {W, "h"}, {D, "("}, {W, "i"}, {D, ")"},
        {D, ","}, {W, "j"}, {D, ">"}, {W, "k"}, {D, "<"}, {W, "l"}, {D, "="}, {W, "m"}, {D, ""}}},
      {"A\tB", {{W, "A"}, {W, "B"}, {D, ""}}},
      {"A\nB", {{W, "A"}, {D, ""}}},
      {"A \rB", {{W, "A"}, {D, ""}}},
      {std::string("A\0B", 3), {{W, "A"}, {D, ""}}},
      {"X:", {{W, "X:"}, {D, ""}}},
      {":", {{X, ""}}},
      {"A .5", {{W, "A"}, {X, ""}}},
      {"\x80", {{X, ""}}},
      {"A\x80\xff 9\xe9", {{W, "A\x80\xff"}, {N, "9\xe9"}, {D, ""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(tokenize(c.line), c.tokens);
  }
}

TEST(TokenizerTest, UnclosedStringWarnsAndEndsAtTheLineEnd) {
  const std::vector<std::string> lines = {"\"abc", "\"abc\n", "\"abc\rdef"};
  for (const std::string& line : lines) {
    SCOPED_TRACE(line);
    std::string warnings;
    EXPECT_EQ(tokenize(line, &warnings), (std::vector<Token>{{S, "abc"}, {D, ""}}));
    EXPECT_EQ(warnings, "\r\nUNBALANCED QUOTE!\r\n");
  }
  std::string warnings;
  tokenize("\"a\" \"b", &warnings);
  EXPECT_EQ(warnings, "\r\nUNBALANCED QUOTE!\r\n");
}

TEST(TokenizerTest, NoneAndLineEndDoNotMoveTheCursor) {
  for (std::string line : {std::string(":"), std::string("   ")}) {
    Tokenizer tokenizer;
    tokenizer.set_line(line.data());
    const TokenKind first = tokenizer.next_token();
    EXPECT_EQ(tokenizer.next_token(), first);
    EXPECT_EQ(tokenizer.next_token(), first);
  }
}

TEST(TokenizerTest, KeepsLongTokensWhole) {
  const std::string word(5000, 'w');
  const std::string text(3000, 's');
  EXPECT_EQ(tokenize(word + "+\"" + text + "\""),
            (std::vector<Token>{{W, word}, {D, "+"}, {S, text}, {D, ""}}));
}

TEST(TokenizerTest, ClassifiesBlanksAndTerminators) {
  for (int c = 0; c < 256; ++c) {
    const char ch = static_cast<char>(c);
    SCOPED_TRACE(c);
    EXPECT_EQ(is_blank(ch), c == ' ' || c == '\t');
    const bool terminator =
        std::string_view(" ;,&|+-<>/*%=()'\t\r\n").find(ch) != std::string_view::npos || c == 0;
    EXPECT_EQ(is_delimiter(ch), terminator);
  }
}

}  // namespace
}  // namespace vorpex

#include "session/text_position.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/utf8.h"
#include "session/json.h"

namespace vorpex {
namespace {

std::size_t utf8_bytes(std::string_view text) {
  return utf8::next_character(text).bytes;
}

TEST(LineIndex, CountsLinesAsEditorsDo) {
  struct Row {
    std::string text;
    std::vector<std::string> lines;
  };
  const std::vector<Row> rows = {
      {"", {""}},
      {"a\nb", {"a", "b"}},
      {"a\r\nb\r\n", {"a", "b", ""}},
      {"10 A = 1\r20 B = 2\r", {"10 A = 1", "20 B = 2", ""}},
      {"a\r\r\nb\n\rc", {"a", "", "b", "", "c"}},
  };
  for (const Row& row : rows) {
    const LineIndex index(row.text);
    ASSERT_EQ(index.line_count(), row.lines.size()) << row.text;
    for (std::size_t i = 0; i < row.lines.size(); ++i)
      EXPECT_EQ(index.line_text(i), row.lines[i]) << row.text << " line " << i;
  }
}

TEST(LineIndex, AnEditGivesTheIndexOfTheNewText) {
  struct Row {
    std::string text;
    std::size_t from;
    std::size_t removed;
    std::string inserted;
  };
  const std::vector<Row> rows = {
      {"a\nb\nc\n", 2, 1, "x\ny"},     {"a\rb\nc", 2, 0, "\n"},   // the CR joins a CR LF
      {"a\r\nb\nc", 2, 1, ""},         {"a\r\nb", 1, 1, "\r\r"},  // and comes apart
      {"\xc3\xa9\n12\n34", 0, 2, "e"}, {"ab\ncd", 5, 0, "\xf0\x9f\x98\x80\n"},
      {"ab\ncd\n", 0, 6, ""},          {"", 0, 0, "a\r"},
      {"a\nb\nc\nd", 3, 3, "\xff"},
  };
  for (const Row& row : rows) {
    LineIndex index(row.text);
    std::string text = row.text;
    text.replace(row.from, row.removed, row.inserted);
    index.edit(text, row.from, row.removed, row.inserted.size());
    const LineIndex fresh(text);
    ASSERT_EQ(index.line_count(), fresh.line_count()) << text;
    for (std::size_t i = 0; i < fresh.line_count(); ++i)
      EXPECT_EQ(index.line_start(i), fresh.line_start(i)) << text << " line " << i;
    for (std::size_t offset = 0; offset <= text.size(); ++offset)
      EXPECT_EQ(index.position(offset, Encoding::Utf16), fresh.position(offset, Encoding::Utf16))
          << text << " at " << offset;
  }
}

TEST(LineIndex, ConvertsPositionsInBothEncodings) {
  // "é" is 2 bytes and 1 UTF-16 unit, "😀" 4 bytes and 2 units, \xFF one invalid byte, and
  // \xE2\x82 the start of a sequence cut short: one replaced character of 2 bytes.
  const std::string text =
      "A\xC3\xA9"
      "B\xF0\x9F\x98\x80"
      "C\xFF"
      "D\xE2\x82!\r\nxy";
  const LineIndex index(text);
  struct Row {
    std::int64_t line, character;
    Encoding encoding;
    std::size_t offset;  // 99: out of range
  };
  const std::vector<Row> rows = {
      {0, 0, Encoding::Utf16, 0},   {0, 2, Encoding::Utf16, 3},  {0, 3, Encoding::Utf16, 4},
      {0, 4, Encoding::Utf16, 4},  // inside the pair: its start
      {0, 5, Encoding::Utf16, 8},   {0, 6, Encoding::Utf16, 9},  {0, 7, Encoding::Utf16, 10},
      {0, 8, Encoding::Utf16, 11},  {0, 9, Encoding::Utf16, 13}, {0, 99, Encoding::Utf16, 14},
      {0, 3, Encoding::Utf8, 3},    {0, 2, Encoding::Utf8, 1},  // inside "é": its start
      {0, 99, Encoding::Utf8, 14},  {1, 2, Encoding::Utf8, 18},  {2, 0, Encoding::Utf8, 99},
      {-1, 0, Encoding::Utf16, 99},
  };
  for (const Row& row : rows) {
    const auto offset = index.offset({row.line, row.character}, row.encoding);
    EXPECT_EQ(offset.value_or(99), row.offset) << row.line << ":" << row.character;
    if (offset && row.character < 99) {
      EXPECT_LE(index.position(*offset, row.encoding).character, row.character);
      EXPECT_EQ(index.position(*offset, row.encoding).line, row.line);
    }
  }
  EXPECT_EQ(index.position(14, Encoding::Utf16), (TextPosition{0, 10}));
  EXPECT_EQ(index.position(15, Encoding::Utf16), (TextPosition{0, 10}));  // inside CR LF
  EXPECT_EQ(count_characters(index.line_text(0), Encoding::Utf16), 10);
}

TEST(LineIndex, RangesStayOnTheirLineAndKeepCharactersWhole) {
  const std::string text = "10 PRINT \xE2\x82\xAC\n\xF0\x9F\x98\x80 = 1\r20 X\n";
  const LineIndex index(text);
  struct Row {
    std::size_t from, to;
    Encoding encoding;
    TextRange range;
  };
  const std::vector<Row> rows = {
      {9, 12, Encoding::Utf16, {{0, 9}, {0, 10}}},
      {9, 10, Encoding::Utf16, {{0, 9}, {0, 10}}},  // a part of the character: all of it
      {9, 12, Encoding::Utf8, {{0, 9}, {0, 12}}},
      {13, 17, Encoding::Utf16, {{1, 0}, {1, 2}}},  // the pair is never split
      {13, 14, Encoding::Utf16, {{1, 0}, {1, 2}}},
      {17, 40, Encoding::Utf16, {{1, 2}, {1, 6}}},  // stops at the lone CR
      {5, 2, Encoding::Utf8, {{0, 5}, {0, 5}}},     // never ends before it starts
      {99, 120, Encoding::Utf8, {{3, 0}, {3, 0}}},
      {21, 23, Encoding::Utf16, {{1, 6}, {1, 6}}},  // from the line's end on: empty at its end
  };
  for (const Row& row : rows)
    EXPECT_EQ(index.range(row.from, row.to, row.encoding), row.range) << row.from << "-" << row.to;
}

// Long lines are counted from checkpoints: the same answers as counting from the line's start.
TEST(LineIndex, LongLinesAnswerAsCountingFromTheStart) {
  const std::vector<std::string> pieces = {"a",    "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80",
                                           "\xFF", "\xE2\x82", "\r\n",         "  "};
  std::uint32_t seed = 7;
  std::string text;
  std::size_t lines = 0;
  while (text.size() < 5000) {
    seed = seed * 1103515245u + 12345u;
    const std::uint32_t pick = (seed >> 8) % 40;
    text += pick < pieces.size() ? pieces[pick] : "x";
    if (text.size() / 1500 > lines) text += ++lines % 2 != 0 ? "\n" : "\r";
  }
  const LineIndex index(text);
  for (std::size_t offset = 0; offset <= text.size(); ++offset) {
    const std::size_t line = index.line_of(offset);
    const std::string_view line_text = index.line_text(line);
    // The reference: whole characters from the line's start.
    std::size_t at = 0;
    std::int64_t units = 0;
    const std::size_t column = std::min(offset - index.line_start(line), line_text.size());
    for (;;) {
      if (at >= line_text.size()) break;
      const std::size_t bytes = utf8_bytes(line_text.substr(at));
      if (at + bytes > column) break;
      units += count_characters(line_text.substr(at, bytes), Encoding::Utf16);
      at += bytes;
    }
    const TextPosition utf16 = index.position(offset, Encoding::Utf16);
    ASSERT_EQ(utf16, (TextPosition{static_cast<std::int64_t>(line), units})) << offset;
    ASSERT_EQ(index.position(offset, Encoding::Utf8).character, static_cast<std::int64_t>(at));
    ASSERT_EQ(index.offset(utf16, Encoding::Utf16), index.line_start(line) + at) << offset;
  }
}

TEST(Utf16Offsets, CountsUnitsFromTheStart) {
  const std::string text =
      "a\xF0\x9F\x98\x80"
      "b\xC3\xA9\xFF";
  Utf16Offsets offsets(text);
  const std::vector<std::pair<std::size_t, std::int64_t>> rows = {
      {0, 0}, {1, 1}, {3, 1}, {5, 3}, {6, 4}, {8, 5}, {9, 6}, {50, 6}, {1, 1}};
  for (const auto& [offset, units] : rows)
    EXPECT_EQ(offsets.at(offset), units) << offset;
}

TEST(Json, StringsReplaceWhatIsNotUtf8AsBrowsersDo) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"plain", "\"plain\""},
      {"q\"b\\\b\f\n\r\t\x01\x7f", "\"q\\\"b\\\\\\b\\f\\n\\r\\t\\u0001\x7f\""},
      {"\xC3\xA9\xF0\x9F\x98\x80", "\"\xC3\xA9\xF0\x9F\x98\x80\""},
      {"\xFF", "\"\xEF\xBF\xBD\""},
      {"\xE2\x82"
       "A",
       "\"\xEF\xBF\xBD"
       "A\""},                                                       // a cut sequence: one U+FFFD
      {"\xE0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},                  // overlong: each byte
      {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},  // a surrogate
  };
  for (const auto& [text, json] : rows) {
    std::string out;
    append_json_string(out, text);
    EXPECT_EQ(out, json);
  }
}

}  // namespace
}  // namespace vorpex

#include "session/incremental_analysis.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "session/cr_joins_index.h"
#include "tests/support/analysis_text.h"

namespace vorpex {
namespace {

// A program of 600 lines with something of every kind: constants, jumps (one to a missing line),
// a label joined to the next line, a REM after a statement, a quote in a word, DEFINEs that
// write their messages into the output (two on a line), CR LF line ends, and a character that stops
// the conversion at line 500.
std::string program() {
  std::string text = "DEFINE C1 = 5\nDEFINE Top = 100\n";
  for (int i = 1; i <= 598; ++i) {
    const std::string n = std::to_string(10 * i);
    switch (i % 8) {
      case 0:
        text += n + " PRINT C1;\"X\"\n";
        break;
      case 1:
        text += n + " GOTO " + std::to_string(10 * i + 10) + "\n";
        break;
      case 2:
        text += n + "\n";
        break;
      case 3:
        text += "  PRINT A REM note\n";
        break;
      case 4:
        text += n + " X=Y\"Z\n";
        break;
      case 5:
        // Every other one writes two messages.
        text += n + " DEFINE Q" + n + " 5" + (i % 16 == 5 ? " DEFINE R 6" : "") + "\n";
        break;
      case 6:
        text += n + " IF A THEN " + std::to_string(10 * i + 7) + "\n";
        break;
      default:
        text += n + " ' comment\r\n";
        break;
    }
    if (i == 498) text += "PRINT :X\n";
  }
  return text;
}

struct Edit {
  std::string at;  // the edit starts at the first place of this text (after `after`)
  std::string after;
  std::size_t removed = 0;
  std::string inserted;
  std::int64_t most_lines = 0;  // the lines the update may read; 0: any number
};

TEST(IncrementalAnalysis, GivesWhatAFreshAnalysisGivesAfterEachEdit) {
  const std::int64_t kEvery = IncrementalAnalysis::kCheckpointLines;
  const std::vector<Edit> edits = {
      // A character typed and taken back: the run meets the old one at the next checkpoint.
      {"PRINT C1", "\n1200 ", 0, " ", 2 * kEvery},
      {" PRINT C1", "\n1200", 1, "", 2 * kEvery},
      // A line added and removed: the lines after move, and the messages' numbers with them.
      {"1010 ", "", 0, "1005 PRINT\n", 2 * kEvery},
      {"1005 PRINT\n", "", 11, "", 2 * kEvery},
      {"\n", "2300 IF", 0, "\n\n\n", 2 * kEvery},
      // A constant defined anew: every later use changes, so the rest is read.
      {"DEFINE Top", "", 0, "DEFINE C2 = 1\n", 0},
      {"PRINT A", "1480 X", 7, "PRINT C2", 0},
      {"DEFINE C2 = 1\n", "", 14, "", 0},
      // The stop moved before its old line, taken away, and put back.
      {"PRINT A", "1960 X", 7, "PRINT :", 0},
      {":", "", 1, "", 0},
      {":X", "", 1, "", 0},
      {"X", "\nPRINT ", 0, ":", 0},
      // After the stop, and in a label that joins the next line.
      {"5810", "", 4, "5811", 2 * kEvery},
      {"\n", "\n4900", 0, " ' joined", 2 * kEvery},
      {"\n", "\n4900", 1, "", 2 * kEvery},
      // A CR LF line, the end-of-text byte, the first and the last bytes.
      {" ' comment\r", "", 10, " END", 2 * kEvery},
      {"\n3010 ", "", 0, "\x1a", 0},
      {"\x1a", "", 1, "", 0},
      {"DEFINE C1", "", 0, "10\n", 0},
      {"\n", "5980 IF A THEN 5987", 1, "", 2 * kEvery},
      {"", "5980 IF A THEN 5987", 0, "\n5990 END", 2 * kEvery},
      // CRs that end no line: one, a run of two, a run before a LF, an end-of-text byte before.
      {"PRINT", "\n1520 ", 0, "\r", 0},
      {"\rPRINT", "\n1520 ", 0, "\r", 0},
      {"", "\n1520 \r\r", 0, "\n", 0},
      {"\n", "\n1520 \r\r", 1, "", 0},
      {"", "\n1510 ", 0, "\x1a", 0},
      {"\x1a", "", 1, "", 0},
      {"\r\r", "\n1520 ", 2, "", 0},
  };
  for (const bool tokens : {false, true}) {
    SessionOptions options;
    options.tokens = tokens;
    options.line_map = true;
    options.defines = {"Top=1"};
    std::string text = program();
    IncrementalAnalysis kept(options);
    kept.reset(text);
    CrJoinsIndex crs;  // the CRs that end no line, kept across the same edits
    crs.reset(text);
    ASSERT_EQ(testing::analysis_text(kept.analysis(), kept.missing_targets()),
              testing::analysis_text(analyze(text, options)));
    for (const Edit& edit : edits) {
      const std::size_t found = text.find(edit.after);
      ASSERT_NE(found, std::string::npos) << edit.after;
      const std::size_t after = found + edit.after.size();
      const std::size_t from = edit.at.empty() ? after : text.find(edit.at, after);
      ASSERT_NE(from, std::string::npos) << edit.at;
      TextChange change;
      change.add(text.size(), from, from + edit.removed);
      text.replace(from, edit.removed, edit.inserted);
      kept.update(text, change);
      crs.update(text, change);
      const std::string what = "after '" + edit.inserted + "' at '" + edit.at + "'";
      const std::optional<KeptDiagnostic> joins = cr_joins_warning(text);
      const std::optional<KeptDiagnostic> kept_joins = crs.warning(text);
      ASSERT_EQ(joins.has_value(), kept_joins.has_value()) << what;
      if (joins) {
        EXPECT_EQ(
            std::tie(joins->line, joins->column, joins->offset, joins->count),
            std::tie(kept_joins->line, kept_joins->column, kept_joins->offset, kept_joins->count))
            << what;
      }
      EXPECT_EQ(testing::analysis_text(kept.analysis(), kept.missing_targets()),
                testing::analysis_text(analyze(text, options)))
          << what;
      if (edit.most_lines != 0) {
        EXPECT_LE(kept.lines_read(), edit.most_lines) << what;
      }
    }
  }
}

// The tokens and jumps of a stretch of lines, read again from the checkpoint before it, are those
// of a fresh analysis of the whole text.
TEST(IncrementalAnalysis, ReadsTheTokensOfAStretchOfLinesAsAFreshAnalysis) {
  const std::string text = program();
  SessionOptions options;
  options.tokens = true;
  const Analysis fresh = analyze(text, options);
  for (const std::int64_t every : {std::int64_t{3}, IncrementalAnalysis::kCheckpointLines}) {
    IncrementalAnalysis kept(SessionOptions{}, every);
    kept.reset(text);
    EXPECT_TRUE(kept.analysis().tokens.empty());
    for (const auto& stretch :
         std::vector<std::pair<std::size_t, std::size_t>>{{0, text.size()},
                                                          {0, 10},
                                                          {500, 900},
                                                          {4000, 4001},
                                                          {text.size() - 50, text.size()},
                                                          {7000, 9000}}) {
      const std::size_t from = stretch.first, to = stretch.second;
      const Analysis lines = kept.lines_between(text, from, to);
      const auto inside = [&](const std::vector<TokenEvent>& all) {
        std::vector<std::tuple<std::size_t, std::size_t, std::int64_t, int>> out;
        for (const TokenEvent& t : all) {
          if (t.offset + t.length > from && t.offset < to)
            out.emplace_back(t.offset, t.length, t.line, static_cast<int>(t.role));
        }
        return out;
      };
      EXPECT_EQ(inside(lines.tokens), inside(fresh.tokens)) << every << " " << from;
      const auto jumps = [&](const std::vector<LineNumberUse>& all) {
        std::vector<std::pair<std::size_t, std::string>> out;
        for (const LineNumberUse& j : all) {
          if (j.place.offset >= from && j.place.offset < to)
            out.emplace_back(j.place.offset, j.number);
        }
        return out;
      };
      EXPECT_EQ(jumps(lines.jumps), jumps(fresh.jumps)) << every << " " << from;
    }
  }
}

TEST(IncrementalAnalysis, TellsTheBytesThatEditsLeftAlone) {
  TextChange change;
  change.add(10, 4, 6);  // "0123456789" -> "0123xy6789": 4 before, 4 after
  EXPECT_EQ(change.prefix, 4u);
  EXPECT_EQ(change.suffix, 4u);
  change.add(10, 8, 8);  // then one byte inserted before "89"
  EXPECT_EQ(change.prefix, 4u);
  EXPECT_EQ(change.suffix, 2u);
  change.add(11, 1, 30);  // then everything from byte 1 on, the end clamped
  EXPECT_EQ(change.prefix, 1u);
  EXPECT_EQ(change.suffix, 0u);
}

}  // namespace
}  // namespace vorpex

#include "session/quick_fix.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/diagnostic.h"

namespace vorpex {
namespace {

// The proofs of the fixes, each kind with a fix that a proof by silence alone would take (the
// warning gone, nothing new, as `silent()` checks) but that changes what the program means.
struct ProofRow {
  std::string text;
  std::string code;  // the warning fixed: the first one of this code
  std::size_t from;  // the fix: [from, to) replaced by `inserted`
  std::size_t to;
  std::string inserted;
  FixKind kind;
  bool frees_stop;
  bool holds;
};

std::size_t index_of(const Analysis& a, const std::string& code) {
  for (std::size_t i = 0; i < a.diagnostics.size(); ++i) {
    if (!a.diagnostics[i].note && diagnostic_code(a.diagnostics[i].kind) == code) return i;
  }
  return a.diagnostics.size();
}

// The fixed text converts with fewer diagnostics, none of a kind it did not have, and none of the
// warning's code on the warning's line.
bool silent(const std::string& text, const std::string& fixed, const std::string& code) {
  const Analysis before = analyze(text);
  const Analysis after = analyze(fixed);
  const KeptDiagnostic& target = before.diagnostics[index_of(before, code)];
  for (const KeptDiagnostic& d : after.diagnostics) {
    if (d.kind == target.kind && d.line == target.line) return false;
    if (std::none_of(before.diagnostics.begin(), before.diagnostics.end(),
                     [&](const KeptDiagnostic& b) { return b.kind == d.kind; }))
      return false;
  }
  return after.diagnostics.size() < before.diagnostics.size();
}

TEST(QuickFix, ProofsHoldTheFixedLineToWhatTheFixMeans) {
  const std::string its = "10 PRINT\"IT'S FINE\"\n20 END\n";
  const std::string stop = "10 PRINT\"x ?\"\n20 END\n";
  const std::vector<ProofRow> rows = {
      {its, "quote-in-word", 8, 8, " ", FixKind::QuoteBlank, false, true},
      // The string's bytes are not those the user wrote.
      {its, "quote-in-word", 8, 10, " \"Y", FixKind::QuoteBlank, false, false},
      // The quote left '?' outside its string and the conversion stopped there: the fix frees the
      // lines after it, which it must say.
      {stop, "quote-in-word", 8, 8, " ", FixKind::QuoteBlank, true, true},
      {stop, "quote-in-word", 8, 8, " ", FixKind::QuoteBlank, false, false},
      {"10 PRINT \"abc  \n", "unclosed-string", 15, 15, "\"", FixKind::CloseString, false, true},
      // Closed before its blanks: the string loses them.
      {"10 PRINT \"abc  \n", "unclosed-string", 13, 13, "\"", FixKind::CloseString, false, false},
      {"10 PRINT X REM note\n20 END\n", "rem-joins-next-line", 10, 11, "\n", FixKind::OwnLine,
       false, true},
      // A line added before a DEFINE's message: the message names the line's new number.
      {"10 PRINT X REM note\n20 END\n30 DEFINE Q 5\n30 DEFINE Q 5 DEFINE R 6\n",
       "rem-joins-next-line", 10, 11, "\n", FixKind::OwnLine, false, true},
      // The apostrophe stands in the string the user meant: moving it cuts the string in two.
      {its, "number-joined", 11, 11, "\n", FixKind::OwnLine, false, false},
      {"10 PRINT 1\n5\n20 END\n", "number-joined", 11, 13, "", FixKind::RemoveNumber, false, true},
      // `120PRINT` is one number: removing its line removes the statement.
      {"10 PRINT 1\n120PRINT\n130 END\n", "number-joined", 11, 20, "", FixKind::RemoveNumber, false,
       false},
      {"10 PRINT 1\n120PRINT\n130 END\n", "number-joined", 14, 14, " ", FixKind::NumberBlank, false,
       true},
      // A blank among the digits: the line's number is not the one it had.
      {"10 PRINT 1\n120PRINT\n130 END\n", "number-joined", 13, 13, " ", FixKind::NumberBlank, false,
       false},
  };
  for (const ProofRow& row : rows) {
    IncrementalAnalysis kept;
    kept.reset(row.text);
    const std::size_t index = index_of(kept.analysis(), row.code);
    ASSERT_LT(index, kept.analysis().diagnostics.size()) << row.text;
    std::string fixed = row.text;
    fixed.replace(row.from, row.to - row.from, row.inserted);
    if (!row.holds && !row.frees_stop) {
      EXPECT_TRUE(silent(row.text, fixed, row.code)) << fixed;  // a weaker proof takes it
    }
    const QuickFix fix{"", row.from, row.to, row.inserted};
    EXPECT_EQ(fix_holds(kept, row.text, index, row.kind, fix, row.frees_stop), row.holds) << fixed;
  }
}

// A proof reads only the lines around its fix: it proves what a proof over the whole text proves,
// with the kept analysis's checkpoints close together or only one at the start.
TEST(QuickFix, ProvesFromTheLinesAroundTheFix) {
  const std::vector<std::string> rows = {
      "PRINT\"IT'S FINE\"\n", "PRINT\"x ?\"\n", "PRINT X REM note\n", "PRINT \"abc  \n",
      "PRINT 1\n5\n",         "X=A ' c\r\n",    "GOTO 7\n7\n",        "PRINT 1\n9PRINT\n",
  };
  std::string text;
  for (int i = 0; i < 240; ++i)
    text += std::to_string(1000 + 10 * i) + " " + rows[static_cast<std::size_t>(i) % rows.size()];
  IncrementalAnalysis close(SessionOptions{}, 3);
  close.reset(text);
  IncrementalAnalysis whole(SessionOptions{}, std::int64_t{1} << 40);
  whole.reset(text);
  ASSERT_EQ(close.analysis().diagnostics.size(), whole.analysis().diagnostics.size());
  std::size_t offered = 0;
  for (std::size_t i = 0; i < whole.analysis().diagnostics.size(); ++i) {
    const std::optional<QuickFix> a = quick_fix(close, text, i);
    const std::optional<QuickFix> b = quick_fix(whole, text, i);
    ASSERT_EQ(a.has_value(), b.has_value()) << i;
    if (!a) continue;
    ++offered;
    EXPECT_EQ(a->title, b->title);
    EXPECT_EQ(a->from, b->from);
    EXPECT_EQ(a->text, b->text);
  }
  EXPECT_GT(offered, 150U);
}

// What is offered, and its title.
TEST(QuickFix, OffersTheFixThatTheUserMeans) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"10 PRINT\"IT'S FINE\"\n20 END\n", "Insert a blank before the quote"},
      {"10 PRINT\"x ?\"\n20 END\n",
       "Insert a blank before the quote, and the conversion no longer stops at line 1"},
      {"10 PRINT 1\n120PRINT\n130 END\n", "Insert a blank after the line number 120"},
  };
  for (const auto& [text, title] : rows) {
    IncrementalAnalysis kept;
    kept.reset(text);
    const std::optional<QuickFix> fix = quick_fix(kept, text, 0);
    ASSERT_TRUE(fix.has_value()) << text;
    EXPECT_EQ(fix->title, title);
  }
}

}  // namespace
}  // namespace vorpex

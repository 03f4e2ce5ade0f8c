#include "session/analysis.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vorpex {
namespace {

std::string places(const std::vector<LineNumberUse>& uses) {
  std::string out;
  for (const LineNumberUse& use : uses)
    out += use.number + "@" + std::to_string(use.place.line) + ":" +
           std::to_string(use.place.column) + " ";
  return out;
}

TEST(Analysis, FindsLabelsAndJumpTargets) {
  struct Row {
    std::string text;
    std::string labels;
    std::string jumps;
  };
  const std::vector<Row> rows = {
      {"10 GOTO 20\n020 END\n", "10@1:1 20@2:1 ", "20@1:9 "},
      {"10 ON X GOSUB 100, 200 ,300\n", "10@1:1 ", "100@1:15 200@1:20 300@1:25 "},
      {"1 IF A THEN 5 ELSE 6\n2 RESTORE 7: RUN 8\n", "1@1:1 2@2:1 ",
       "5@1:13 6@1:20 7@2:11 8@2:18 "},
      {"  10 x = 20 : goto 30\n", "10@1:3 ", "30@1:20 "},
      {"DEFINE Target = 40\n10 GOTO target\n", "10@2:1 ", "40@2:9 "},
      {"10 PRINT 20, 30\n", "10@1:1 ", ""},
  };
  for (const Row& row : rows) {
    const Analysis analysis = analyze(row.text);
    EXPECT_EQ(places(analysis.labels), row.labels) << row.text;
    EXPECT_EQ(places(analysis.jumps), row.jumps) << row.text;
  }
}

TEST(Analysis, FindsDefinitionsAndTheirUses) {
  const Analysis analysis =
      analyze("X = MAX\nDEFINE Max = 10\nDEFINE max = 11\r\n10 PRINT max;\"MAX\" + Max\n",
              {{"Top=5"}, true, false, false, false});
  ASSERT_EQ(analysis.definitions.size(), 2u);
  EXPECT_EQ(analysis.definitions[0].name, "TOP");
  EXPECT_EQ(analysis.definitions[0].place.line, 0);
  EXPECT_EQ(analysis.definitions[1].name, "MAX");
  EXPECT_EQ(analysis.definitions[1].value, "10");
  EXPECT_EQ(analysis.definitions[1].place.line, 2);
  EXPECT_EQ(analysis.definitions[1].place.column, 8u);
  std::vector<std::string> uses;
  for (const Reference& r : analysis.references)
    uses.push_back(std::to_string(r.definition) + "@" + std::to_string(r.place.line) + ":" +
                   std::to_string(r.place.column));
  EXPECT_EQ(uses, (std::vector<std::string>{"1@4:10", "1@4:22"}));
  ASSERT_EQ(analysis.diagnostics.size(), 1u);
  EXPECT_EQ(analysis.diagnostics[0].kind, DiagnosticKind::AlreadyDefined);
  EXPECT_EQ(analysis.diagnostics[0].column, 8u);
  EXPECT_EQ(analysis.diagnostics[0].end_column, 11u);
  EXPECT_NE(analysis.find_definition("mAx"), nullptr);
  EXPECT_EQ(analysis.find_definition("none"), nullptr);
}

TEST(Analysis, MapsTheOutputToItsLines) {
  const Analysis analysis = analyze(
      "REM x\n10\n  PRINT 1\n\n20 END\x1a"
      "30 END\n");
  EXPECT_EQ(analysis.output, "10 PRINT 1\r\n20 END\r\n");
  EXPECT_EQ(analysis.line_map(), (std::vector<std::int64_t>{2, 5}));
  EXPECT_EQ(analysis.output_lines_of(1), (std::pair<std::size_t, std::size_t>{0, 0}));
  EXPECT_EQ(analysis.output_lines_of(3), (std::pair<std::size_t, std::size_t>{0, 1}));
  EXPECT_EQ(analysis.output_lines_of(5), (std::pair<std::size_t, std::size_t>{1, 2}));
  EXPECT_EQ(analysis.output_line(1), "20 END");
  EXPECT_EQ(analysis.output_line(7), "");
}

TEST(Analysis, KeepsTokensWhenAsked) {
  const Analysis analysis =
      analyze("10 DEFINE A=1\n20 PRINT\"X\";A ' c\n", {{}, true, false, false, true});
  std::string roles;
  for (const TokenEvent& t : analysis.tokens)
    roles += std::to_string(static_cast<int>(t.role)) + ":" + std::to_string(t.column) + "+" +
             std::to_string(t.length) + " ";
  EXPECT_EQ(roles, "2:1+2 6:4+6 8:11+1 4:12+1 1:13+1 2:1+2 0:4+8 4:12+1 7:13+1 5:15+3 ");
  EXPECT_TRUE(analyze("10 PRINT\n").tokens.empty());
}

}  // namespace
}  // namespace vorpex

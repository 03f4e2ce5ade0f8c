#include "session/renumber.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vorpex {
namespace {

using Kind = RenumberRequest::Kind;

RenumberRequest whole(std::uint64_t start = 10, std::uint64_t step = 10) {
  RenumberRequest r;
  r.start = start;
  r.step = step;
  return r;
}

RenumberRequest lines(std::uint64_t from, std::uint64_t to, std::uint64_t start,
                      std::uint64_t step) {
  RenumberRequest r = whole(start, step);
  r.from = from;
  r.to = to;
  return r;
}

RenumberRequest move(std::uint64_t from, std::uint64_t to, std::uint64_t after) {
  RenumberRequest r;
  r.kind = Kind::Move;
  r.from = from;
  r.to = to;
  r.after = after;
  return r;
}

RenumberRequest past_computed(RenumberRequest r) {
  r.past_computed = true;
  return r;
}

RenumberRequest largest(RenumberRequest r, std::uint64_t number) {
  r.largest = number;
  return r;
}

std::string codes(const std::vector<RenumberWarning>& warnings) {
  std::string out;
  for (const RenumberWarning& w : warnings)
    out += w.code + "@" + std::to_string(w.place.line) + " ";
  return out;
}

// Each case: the source, the request, and either the renumbered text in full or the refusal (a
// part of its message); the warnings by code and line.
struct Case {
  const char* name;
  std::string source;
  RenumberRequest request;
  std::string text{};     // the renumbered source, when it is done
  std::string refusal{};  // a part of the refusal, when it is refused
  std::string warnings{};
  std::vector<std::string> defines{};
};

const std::vector<Case>& cases() {
  static const std::vector<Case> table = {
      {"every jump form",
       "5 GOTO 7\n7 GO TO 9\n9 GOSUB 11\n11 GO SUB 13\n13 RESTORE 15\n15 RUN 5\n", whole(),
       "10 GOTO 20\n20 GO TO 30\n30 GOSUB 40\n40 GO SUB 50\n50 RESTORE 60\n60 RUN 10\n"},
      {"case, blanks and comments stay",
       "  5   goto   7  ' to 7\n7 rem goto 5\n  print \"goto 5\" : 'x\n", whole(100, 5),
       "  100   goto   105  ' to 7\n105 rem goto 5\n  print \"goto 5\" : 'x\n"},
      // Past the stop, a number after a character that begins no token still begins its line.
      {"a line number after a character that begins no token", "1 A : B\n$ 2 END\n3 GOTO 2\n",
       whole(), "10 A : B\n$ 20 END\n30 GOTO 20\n"},
      {"ON lists", "1 ON X GOTO 2, 3 ,4\n2 ON Y GOSUB 4,3\n3 END\n4 END\n", whole(),
       "10 ON X GOTO 20, 30 ,40\n20 ON Y GOSUB 40,30\n30 END\n40 END\n"},
      {"THEN number, THEN GOTO and ELSE",
       "1 IF A THEN 3\n2 IF B THEN GOTO 3 ELSE 1\n3 IF C THEN PRINT 3 ELSE 2\n", whole(),
       "10 IF A THEN 30\n20 IF B THEN GOTO 30 ELSE 10\n30 IF C THEN PRINT 3 ELSE 20\n"},
      {"numbers that are not lines stay", "1 PRINT 2, 3\n2 X = 1\n3 GOTO 1\n", whole(),
       "10 PRINT 2, 3\n20 X = 1\n30 GOTO 10\n"},
      {"label-only lines", "100\nPRINT X\n200\n  GOTO 100\n", whole(1, 1),
       "1\nPRINT X\n2\n  GOTO 1\n"},
      {"a numbered REM line that joins the next", "10 REM start\nPRINT X\n20 GOTO 10\n",
       whole(1, 2), "1 REM start\nPRINT X\n3 GOTO 1\n"},
      {"leading zeros and letters", "0010 GOTO 0020\n020A PRINT\n30 GOTO 20A\n", whole(100, 10),
       "100 GOTO 110\n110A PRINT\n120 GOTO 110A\n"},
      {"a range", "10 GOTO 30\n20 GOTO 40\n30 PRINT\n40 GOTO 20\n50 END\n", lines(20, 40, 21, 2),
       "10 GOTO 23\n21 GOTO 25\n23 PRINT\n25 GOTO 21\n50 END\n"},
      {"constants used as labels only",
       "DEFINE Main = 100\nDEFINE Done = 300\n10 GOSUB Main\n20 GOTO Done\nMain PRINT\nDone END\n",
       whole(),
       "DEFINE Main = 30\nDEFINE Done = 40\n10 GOSUB Main\n20 GOTO Done\nMain PRINT\nDone END\n"},
      {"a constant used as a value too", "DEFINE Main = 100\n10 GOTO Main\n100 X = Main + 1\n",
       whole(), "", "the constant MAIN stands for line 100 and is also used as a value"},
      {"a constant from outside the source",
       "10 GOTO Main\n100 END\n",
       whole(),
       "",
       "the constant MAIN, given outside the source, stands for line 100",
       "",
       {"Main=100"}},
      {"a constant from outside that names no renumbered line",
       "10 GOTO Main\n20 END\n",
       whole(),
       "10 GOTO Main\n20 END\n",
       "",
       "missing-line-target@1 ",
       {"Main=900"}},
      {"a computed target refused", "10 GOTO X\n20 END\n", whole(1, 1), "",
       "the target of the jump at source line 1 is computed ('X')"},
      {"computed targets left when asked", "10 GOSUB N*100\n20 ON X GOTO 30, A\n30 GOTO 20+X\n",
       past_computed(whole(1, 1)), "1 GOSUB N*100\n2 ON X GOTO 3, A\n3 GOTO 20+X\n", "",
       "computed-line-target@1 computed-line-target@2 computed-line-target@3 "},
      {"a missing target left", "10 GOTO 15\n20 GOTO 10\n", whole(100, 100),
       "100 GOTO 15\n200 GOTO 100\n", "", "missing-line-target@1 "},
      {"a missing target that a new number would find", "10 GOTO 15\n20 END\n", whole(5, 10), "",
       "the jump to 15 at source line 1 names no line"},
      {"room below a line outside the range", "10 PRINT\n20 PRINT\n30 END\n", lines(10, 20, 20, 5),
       "20 PRINT\n25 PRINT\n30 END\n"},
      {"a collision with a line outside the range", "10 PRINT\n20 PRINT\n30 END\n",
       lines(10, 20, 25, 5), "", "line 20 (source line 2) would take the number 30"},
      {"past a line outside the range", "10 PRINT\n20 PRINT\n30 END\n", lines(10, 20, 31, 1), "",
       "would break the ascending order: line 30 (source line 3) comes after line 32"},
      {"a new number taken", "10 PRINT\n20 PRINT\n5 END\n", lines(10, 20, 1, 4), "",
       "would take the number 5"},
      {"lines not ascending", "10 PRINT\n30 PRINT\n20 END\n", whole(), "",
       "line 20 (source line 3) comes after line 30 (source line 2)"},
      {"a repeated line", "10 PRINT\n10 PRINT\n", whole(), "",
       "line 10 repeats at source line 2 (first at source line 1)"},
      {"past the largest number", "10 PRINT\n20 PRINT\n30 END\n", largest(whole(9000, 500), 9999),
       "", "line 30 would be numbered 10000, past the largest line number 9999"},
      {"within the largest number", "10 PRINT\n20 END\n", largest(whole(9000, 999), 9999),
       "9000 PRINT\n9999 END\n"},
      {"no lines in the range", "10 END\n", lines(100, 200, 1, 1), "",
       "no line is numbered from 100 to 200"},
      {"CR LF", "10 GOTO 20\r\n20 GOTO 10\r\n", whole(1, 1), "1 GOTO 2\r\n2 GOTO 1\r\n"},
      {"a constant's line with a leading zero, kept", "DEFINE H = 010\n10 GOTO H\n", whole(10, 10),
       "DEFINE H = 010\n10 GOTO H\n"},
      {"lone CR: the converter drops it", "10 GOTO 10 \r20 PRINT\r", whole(1, 1),
       "1 GOTO 1 \r20 PRINT\r"},
      {"lone CR inside a number", "10 GOTO 20\r20 GOTO 10\r", whole(1, 1), "",
       "the number at source line 1 holds a CR byte"},
      {"a final line without its line end", "10 GOTO 20\n20 GOTO 10", whole(1, 1),
       "1 GOTO 2\n2 GOTO 1"},
      {"a move up", "10 PRINT 1\n20 PRINT 2\n30 GOTO 10\n40 GOSUB 30\n", move(30, 40, 10),
       "10 PRINT 1\n13 GOTO 10\n16 GOSUB 13\n20 PRINT 2\n"},
      {"a move down", "10 GOTO 30\n20 PRINT 2\n30 PRINT 3\n40 END\n", move(10, 10, 30),
       "20 PRINT 2\n30 PRINT 3\n35 GOTO 30\n40 END\n"},
      {"a move that renumbers the lines after", "10 GOTO 12\n11 PRINT\n12 END\n13 GOTO 11\n",
       move(10, 10, 11), "11 PRINT\n21 GOTO 31\n31 END\n41 GOTO 11\n"},
      {"a move to the end of a text without a final line end", "10 PRINT 1\r\n20 PRINT 2",
       move(10, 10, 20), "20 PRINT 2\r\n30 PRINT 1"},
      {"a move of the last line, which has no line end", "10 PRINT 1\n20 PRINT 2\n30 GOTO 10",
       move(30, 30, 10), "10 PRINT 1\n15 GOTO 10\n20 PRINT 2"},
      {"a move of the last line before lines that end in an empty one", "10 PRINT 1\n\n20 PRINT 2",
       move(20, 20, 0), "5 PRINT 2\n10 PRINT 1\n\n"},
      {"a move over a DEFINE", "10 PRINT\nDEFINE A = 1\n20 PRINT A\n", move(10, 10, 20), "",
       "holds the DEFINE of A"},
      {"a move of a line that runs on", "10 PRINT X REM\n20 PRINT Y\n30 END\n", move(10, 10, 20),
       "", "runs on into the next line's"},
      // Past the stop nothing is written: a join there (the comment of 30) is not seen.
      {"a move past the conversion's stop", "10 A : B\n20 PRINT 'c\n30 PRINT 'c\n40 END\n",
       move(40, 40, 20), "", "line 20 comes after the conversion's stop at source line 1"},
      {"a move into its own range", "10 PRINT\n20 PRINT\n30 END\n", move(10, 20, 20), "",
       "line 20 is among the lines moved"},
  };
  return table;
}

TEST(Renumber, Cases) {
  for (const Case& c : cases()) {
    SessionOptions options;
    options.defines = c.defines;
    const RenumberResult r = renumber(c.source, c.request, options);
    if (c.refusal.empty()) {
      EXPECT_EQ(r.refusal, "") << c.name;
      EXPECT_EQ(r.text, c.text) << c.name;
      EXPECT_EQ(apply_edits(c.source, r.edits), r.text) << c.name;
      EXPECT_EQ(codes(r.warnings), c.warnings) << c.name;
    } else {
      EXPECT_NE(r.refusal.find(c.refusal), std::string::npos) << c.name << ": " << r.refusal;
      EXPECT_TRUE(r.edits.empty()) << c.name;
      EXPECT_EQ(r.text, "") << c.name;
    }
  }
}

TEST(Renumber, EditsOnlyDigitsAndRenumbersBack) {
  const std::string source = "10 GOTO 20\n20 ON X GOSUB 10, 30\n30 IF A THEN 10 ELSE 20\n";
  const RenumberResult there = renumber(source, whole(1000, 5));
  ASSERT_EQ(there.refusal, "");
  for (const RenumberEdit& e : there.edits) {
    for (std::size_t i = e.from; i < e.to; ++i)
      EXPECT_TRUE(source[i] >= '0' && source[i] <= '9');
    EXPECT_EQ(e.text.find_first_not_of("0123456789"), std::string::npos);
  }
  const RenumberResult back = renumber(there.text, whole(10, 10));
  ASSERT_EQ(back.refusal, "");
  EXPECT_EQ(back.text, source);
  EXPECT_EQ(there.numbers.size(), 3u);
  EXPECT_EQ(there.numbers[2], (std::pair<std::string, std::uint64_t>{"30", 1010}));
}

TEST(Renumber, TheOutputIsTheRenumberedProgram) {
  const RenumberResult r = renumber("100 PRINT\n  200 GOTO 100 ' back\n", whole(1, 1));
  ASSERT_EQ(r.refusal, "");
  EXPECT_EQ(r.output, "1 PRINT\r\n2 GOTO 1\r\n");
}

// A selection's bytes take the lines whose numbers begin within them, however the lines end.
TEST(Renumber, SelectsTheLinesWhoseNumbersBeginInTheBytes) {
  struct Row {
    std::string_view source;
    std::size_t from, to;
    std::string refusal;  // or the range, "FROM-TO"
  };
  const std::string none = "cannot renumber: no line number begins a line of the selection";
  for (const Row& row : std::initializer_list<Row>{
           {"10 A\n20 B\n30 C\n", 0, 17, "10-30"},
           {"10 A\n20 B\n30 C\n", 5, 10, "20-20"},
           {"10 A\n20 B\n30 C\n", 6, 12, "30-30"},
           {"10 A\n  20 B\n", 5, 12, "20-20"},  // blanks before the number
           {"10 A\rB\r\n20 C\n", 5, 14, "20-20"},
           {"10 A\nREM\n20 B\n", 5, 9, none},
           {"99999999999999999999 A\n", 0, 23,
            "cannot renumber: line 99999999999999999999 is too large"},
       }) {
    RenumberRequest request;
    const std::string refusal = select_lines(analyze(row.source), row.from, row.to, request);
    const std::string got = refusal.empty() ? std::to_string(request.from.value_or(0)) + "-" +
                                                  std::to_string(request.to.value_or(0))
                                            : refusal;
    EXPECT_EQ(got, row.refusal) << row.source << " " << row.from << "-" << row.to;
  }
}

TEST(StartStep, ReadsTheFrontEndsForm) {
  std::uint64_t start = 0;
  std::uint64_t step = 0;
  EXPECT_TRUE(parse_start_step("100", start, step));
  EXPECT_EQ(start, 100u);
  EXPECT_EQ(step, 10u);
  EXPECT_TRUE(parse_start_step("1,1", start, step));
  EXPECT_EQ(step, 1u);
  for (const char* bad : {"", ",", "1,", "1,0", "-1", "1,2,3", "x", "1 ,2", "99999999999999999999"})
    EXPECT_FALSE(parse_start_step(bad, start, step)) << bad;
}

}  // namespace
}  // namespace vorpex

#include "engine/line_processor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/diagnostics.h"
#include "engine/simd.h"
#include "tests/support/memory_io.h"

namespace vorpex {
namespace {

// Each diagnostic as "LINE:COLUMN KIND [FOUND] [OTHER_LINE]".
class DiagnosticRecorder : public DiagnosticObserver {
 public:
  void report(const Diagnostic& d) override {
    static constexpr const char* kNames[] = {"unknown", "equals",   "value",     "defined",
                                             "full",    "unclosed", "quote",     "joined",
                                             "rem",     "define",   "overridden"};
    std::string text = std::to_string(d.line) + ":" + std::to_string(d.column) + " " +
                       (d.note ? "note " : "") + kNames[static_cast<int>(d.kind)];
    if (!d.found.empty()) text += " [" + std::string(d.found) + "]";
    if (d.other_line != 0) text += " " + std::to_string(d.other_line);
    if (!d.other.empty()) text += " '" + std::string(d.other) + "'";
    if (d.related_column != 0) text += " @" + std::to_string(d.related_column);
    events.push_back(text);
    extents.push_back(std::to_string(d.column) + "-" + std::to_string(d.end_column));
  }
  bool judges_quotes() const override { return judges; }
  std::vector<std::string> events;
  std::vector<std::string> extents;  // COLUMN-END_COLUMN of each
  bool judges = true;
};

struct Conversion {
  std::string output;
  std::string warnings;
  std::vector<std::string> diagnostics;
  ProcessResult result;
};

// `judges`: whether the observer judges a quote inside a word; without, the fast path reads such a
// line as any other.
Conversion convert_source(LineSource& source, std::size_t buffer_size, bool fast,
                          bool judges = true) {
  testing::StringSink output;
  testing::StringSink warnings;
  DiagnosticRecorder recorder;
  recorder.judges = judges;
  cli::QuoteWarnings quote_warnings(warnings, &recorder);
  LineProcessor processor(output, buffer_size);
  processor.set_diagnostics(&quote_warnings);
  processor.set_fast_path(fast);
  Conversion run;
  run.result = processor.process_input(source);
  run.output = output.text;
  run.warnings = warnings.text;
  run.diagnostics = recorder.events;
  return run;
}

Conversion convert_once(std::vector<std::string> lines, std::size_t buffer_size, bool fast,
                        bool judges = true) {
  testing::VectorLineSource source(std::move(lines));
  return convert_source(source, buffer_size, fast, judges);
}

// Every case runs through the token loop alone and with the fast path, which must agree, with an
// observer that judges quotes inside words and with one that judges none.
Conversion convert(std::vector<std::string> lines, std::size_t buffer_size = 64) {
  Conversion judged;
  for (const bool judges : {false, true}) {
    const Conversion scalar = convert_once(lines, buffer_size, false, judges);
    // Lines in one run, with padding, as a file reader gives them: a window at a time.
    testing::PaddedLineSource padded(lines, std::string());
    const Conversion in_place = convert_source(padded, buffer_size, true, judges);
    const Conversion run = convert_once(lines, buffer_size, true, judges);
    for (const Conversion* fast : {&run, &in_place}) {
      EXPECT_EQ(fast->output, scalar.output) << "the fast path differs from the token loop";
      EXPECT_EQ(fast->warnings, scalar.warnings);
      EXPECT_EQ(fast->diagnostics, scalar.diagnostics);
      EXPECT_EQ(fast->result.outcome, scalar.result.outcome);
      EXPECT_EQ(fast->result.line_number, scalar.result.line_number);
    }
    judged = run;
  }
  return judged;
}

struct Case {
  std::vector<std::string> lines;
  std::string output;
};

TEST(LineProcessorTest, CompactsLines) {
  const std::vector<Case> cases = {
      {{"  IF A > 10 THEN GOTO 100"}, "IF A>10 THEN GOTO 100\r\n"},
      {{"print \"MiXed\" ; y"}, "PRINT \"MiXed\";Y\r\n"},
      {{"PRINT \"A\" \"B\""}, "PRINT \"A\" \"B\"\r\n"},
      {{"x = 0x1f + y"}, "X=0x1f+Y\r\n"},
      {{"5 5"}, "5 5\r\n"},
      {{"a(1 ,2)=-b%c"}, "A(1,2)=-B%C\r\n"},
      {{"10", "PRINT X"}, "10 PRINT X\r\n"},
      {{"10"}, "10 "},
      {{"10", "20", "END"}, "10 20 END\r\n"},
      {{"10 REM start", "PRINT X"}, "10 PRINT X\r\n"},
      {{"REM whole line", "A = 1"}, "A=1\r\n"},
      {{"rem whole line", "A = 1"}, "A=1\r\n"},
      {{"PRINT X REM note", "PRINT Y"}, "PRINT X PRINT Y\r\n"},
      {{"remark"}, "REMARK\r\n"},
      {{"' note"}, ""},
      {{"PRINT X ' note"}, "PRINT X\r\n"},
      {{"10 ' note", "PRINT X"}, "10 PRINT X\r\n"},
      {{"10 PRINT X ' note", "20 PRINT Y"}, "10 PRINT X 20 PRINT Y\r\n"},
      {{"10 GOTO 20 ' note", "PRINT Y"}, "10 GOTO 20\r\nPRINT Y\r\n"},
      {{"PRINT \"a'b\""}, "PRINT \"a'b\"\r\n"},
      {{"", "   ", "\t\t", "A"}, "A\r\n"},
      {{"PRINT DON'T"}, "PRINT DON\r\n"},
      {{"A 1 \"s\" B"}, "A 1 \"s\" B\r\n"},
      {{"+1"}, "+1\r\n"},
      {{"X 10", "Y"}, "X 10\r\nY\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines.front());
    const Conversion run = convert(c.lines);
    EXPECT_EQ(run.output, c.output);
    EXPECT_EQ(run.result.outcome, Outcome::Done);
    EXPECT_EQ(run.warnings, "");
  }
}

TEST(LineProcessorTest, UnknownTokenStopsTheRunWithTheLineNumber) {
  const std::vector<Case> cases = {
      {{"PRINT X :PRINT Y"}, "PRINT X\r\nUNKNOWN ERROR! LINE: 1\r\n"},
      {{"A", "", "#"}, "A\r\n\r\nUNKNOWN ERROR! LINE: 3\r\n"},
      {{"\xe9t\xe9"}, "\r\nUNKNOWN ERROR! LINE: 1\r\n"},
      {{"10 ?", "PRINT"}, "10\r\nUNKNOWN ERROR! LINE: 1\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines.front());
    const Conversion run = convert(c.lines);
    EXPECT_EQ(run.output, c.output);
    EXPECT_EQ(run.result.outcome, Outcome::UnknownToken);
  }
}

TEST(LineProcessorTest, UnclosedStringWarnsAndTheLineGoesOn) {
  const Conversion run = convert({"PRINT \"abc", "B"});
  EXPECT_EQ(run.output, "PRINT \"abc\"\r\nB\r\n");
  EXPECT_EQ(run.warnings, "\r\nUNBALANCED QUOTE!\r\n");
  EXPECT_EQ(run.result.outcome, Outcome::Done);
}

// Lines at the edges of the fast path: block and step boundaries, strings and comments next to
// other tokens, keywords at the line's end. convert() checks that both ways agree.
TEST(LineProcessorTest, FastPathAndTokenLoopAgree) {
  const std::string a63(63, 'a');
  const std::string a127(127, 'a');
  std::string tabbed;  // 200 bytes
  std::string spaced;
  for (int i = 0; i < 100; ++i) {
    tabbed += "\ta";
    spaced += i == 0 ? "A" : " A";
  }
  // Long lines: strings, a REM or a comment steps past their start, and a number-like token past
  // the first step, which keeps the line from joining.
  std::string listed = "print", listed_out = "PRINT ", sum = "x = a", sum_out = "X=A";
  for (int i = 0; i < 40; ++i) {
    listed += " \"a b\"; x;";
    listed_out += "\"a b\";X;";
    sum += " + a";
    sum_out += "+A";
  }
  const std::vector<Case> cases = {
      {{listed, "10 " + listed + "\t' \"c", "20 " + listed + "\"", "y"},
       listed_out + "\r\n10 " + listed_out + " 20 " + listed_out + "\"\"\r\nY\r\n"},
      {{"DEFINE N = 5", sum + " rem c", "y", "10 " + sum + " 'c", "20 " + sum + " + 1 'c",
        "30 " + sum + " + n 'c"},
       sum_out + " Y\r\n10 " + sum_out + " 20 " + sum_out + "+1\r\n30 " + sum_out + "+5\r\n"},
      {{"z = \"" + std::string(200, 's') + "\" + " + sum, std::string(130, ' ') + "z = 1"},
       "Z=\"" + std::string(200, 's') + "\"+" + sum_out + "\r\nZ=1\r\n"},
      {{a63 + " x"}, std::string(63, 'A') + " X\r\n"},  // 65 bytes, and 64, 128 and 129 below
      {{tabbed, "10 " + tabbed + " 'c", tabbed + " \"s\""},
       spaced + "\r\n10 " + spaced + " " + spaced + " \"s\"\r\n"},
      {{std::string(255, 'a') + "b", std::string(256, 'a') + "b"},  // 256 and 257 bytes
       std::string(255, 'A') + "B\r\n" + std::string(256, 'A') + "B\r\n"},
      {{"x = 1 '" + std::string(300, 'c'), "10 REM " + std::string(300, 'c'), "y"},
       "X=1\r\n10 Y\r\n"},
      {{a63 + "b"}, std::string(63, 'A') + "B\r\n"},
      {{a127 + "b"}, std::string(127, 'A') + "B\r\n"},
      {{a127 + " b"}, std::string(127, 'A') + " B\r\n"},
      {{std::string(61, ' ') + "rem", "x"}, "X\r\n"},
      {{std::string(125, ' ') + "Rem", "x"}, "X\r\n"},
      {{"x" + std::string(60, ' ') + "rem"}, "X "},
      {{"rem\"x\""}, "REM\"X\"\r\n"},
      {{"remark\tdefined"}, "REMARK DEFINED\r\n"},
      {{"a\t\tb  \"c\td\"\t'\"e"}, "A B \"c\td\"\r\n"},
      {{"\"a\"\"b\"", "\"a\"b", "b\"a\"", "(\"a\")+\"'\""},
       "\"a\" \"b\"\r\n\"a\" B\r\nB\"A\"\r\n(\"a\")+\"'\"\r\n"},
      {{"10 'x", "20 ' y", "30 40 'z"}, "10 20 30 40\r\n"},
      {{"10 REM x", "20\trem \"y", "30 + REM z", "40 REM", "50 60 REM", "70 REM'", "8\"0 REM"},
       "10 20 30+40 50 60 70 8\"0 "},
      {{"' \x80 \"", "x' \x01", "y\x01\x02"}, "X\r\nY\x01\x02\r\n"},
      {{"a.b $c"}, "A.B\r\nUNKNOWN ERROR! LINE: 1\r\n"},
      {{"10", "", "  ", "20"}, "10 20 "},
      {{"PRINT \"a\"REM x", "Y"}, "PRINT \"a\" Y\r\n"},
      {{"10 REM", "20 'c", "GOTO 10"}, "10 20 GOTO 10\r\n"},
      // Quotes inside words, which a word takes as its bytes: strings after them, comments and
      // REM in their text, one at the first byte of a step.
      {{"10 PRINT\"hello world\":PRINT\"A+B\"", "20 print\"it's\" : x", "x\"y\"z rem c",
        "PRINT\"REM\" \"s\" 'c", "PRINT\"\"\"a b\"", "n5\"6 \"x\"y"},
       "10 PRINT\"HELLO WORLD\":PRINT\"A+B\"\r\n20 PRINT\"IT X\"Y\"Z PRINT\"REM\" \"s\"\r\n"
       "PRINT\"\"\"A B\"\r\nN5\"6 \"x\" Y\r\n"},
      {{std::string(64, 'a') + "\"b c\"", std::string(63, 'a') + "\"b\" \"" + a63 + "\" d"},
       std::string(64, 'A') + "\"B C\"\r\n" + std::string(63, 'A') + "\"B\" \"" + a63 + "\" D\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines.front());
    EXPECT_EQ(convert(c.lines).output, c.output);
  }
}

// A run of lines read in place, with exactly the padding its source promises past it: whatever that
// padding holds (a keyword cut off by its end, quotes, control bytes, or bytes never set, which
// valgrind watches), the fast path reads no further and decides on the line's own bytes alone.
TEST(LineProcessorTest, FastPathIgnoresWhatThePaddingHolds) {
  std::vector<std::optional<std::string>> paddings = {std::nullopt, "", "\x80\"'\x01:#", "rem"};
  for (const std::string_view keyword : {"DEFINE", "define", "REM"}) {
    for (std::size_t k = 1; k <= keyword.size(); ++k)
      paddings.push_back(std::string(kLinePadding - k, ' ') + std::string(keyword.substr(0, k)));
  }
  std::vector<std::vector<std::string>> inputs = {
      {"10", "PRINT \"x\" 'c"}, {"x rem", "d"}, {"REM", "r", "def"}};
  // Lines that end at every offset from a block's end.
  for (std::size_t n = 1; n <= 2 * simd::kBlock + 2; ++n)
    inputs.push_back({std::string(n, 'a'), std::string(n, ' ')});
  for (const std::vector<std::string>& lines : inputs) {
    SCOPED_TRACE(lines.front());
    const Conversion expected = convert_once(lines, 64, false);
    for (const std::optional<std::string>& padding : paddings) {
      testing::PaddedLineSource source(lines, padding);
      const Conversion run = convert_source(source, 64, true);
      EXPECT_EQ(run.output, expected.output) << "padding [" << padding.value_or("unset") << "]";
      EXPECT_EQ(run.diagnostics, expected.diagnostics);
    }
  }
}

TEST(LineProcessorTest, LongLinesAndTokensAreKeptWhole) {
  std::string line;
  for (int i = 0; i < 3000; ++i)
    line += "a+";
  line += std::string(700, 'b') + " \"" + std::string(900, 'c') + "\"";
  std::string expected;
  for (int i = 0; i < 3000; ++i)
    expected += "A+";
  expected += std::string(700, 'B') + " \"" + std::string(900, 'c') + "\"\r\n";
  // A small output buffer makes tokens larger than the buffer go straight to the sink.
  EXPECT_EQ(convert({line}, 16).output, expected);
}

// Lines that cross the steps of 64 bytes and the windows of lines at every offset, a line longer
// than a window among them, each with what a step carries to the next: a string, a comment, a
// word, a run of blanks after a value.
TEST(LineProcessorTest, WindowsOfLinesConvertAsTheTokenLoopDoes) {
  const std::vector<std::string> tails = {"\"a b\" X", "' c \"d", "WORD", "A   B", "REM r", "5"};
  std::vector<std::string> lines;
  for (std::size_t i = 0; lines.size() < 1200; ++i) {
    std::string line = std::to_string(i % 7 == 0 ? i : 0).substr(0, i % 7 == 0 ? 8 : 0);
    line += std::string(i % 61, i % 2 != 0 ? ' ' : '\t') + tails[i % tails.size()];
    lines.push_back(line);
    if (i == 500) lines.push_back("PRINT " + std::string(fast_block::kWindow + 100, 'x'));
  }
  const Conversion run = convert(lines);
  EXPECT_EQ(run.result.line_number, static_cast<std::int64_t>(lines.size()));
}

TEST(LineProcessorTest, DefinedNamesAreReplacedByTheirValues) {
  const std::vector<Case> cases = {
      {{"DEFINE MAX = 100", "FOR I = 1 TO MAX"}, "FOR I=1 TO 100\r\n"},
      {{"define out = print", "out X"}, "PRINT X\r\n"},
      {{"DEFINE A = B", "DEFINE B = 7", "PRINT A B"}, "PRINT B 7\r\n"},
      {{"DEFINE N = 5", "N", "PRINT"}, "5 PRINT\r\n"},
      {{"DEFINE N = 5", "N PRINT N", "X"}, "5 PRINT 5\r\nX\r\n"},
      {{"DEFINE W = GO", "W", "X"}, "GO\r\nX\r\n"},
      {{"DEFINE N = 5", "10 N", "X"}, "10 5\r\nX\r\n"},
      {{"DEFINE N = 5", "N 'c", "X"}, "5 X\r\n"},
      {{"DEFINE X = 1234567890", "PRINT X"}, "PRINT 1234567890\r\n"},
      {{"DEFINE LONGNAME9 = 9", "DEFINE SIXTEEN_BYTES_AB = A", "x longname9,Sixteen_bytes_ab"},
       "X 9,A\r\n"},
      {{"DEFINE X = 1 junk", "PRINT X"}, "PRINT 1\r\n"},
      {{"PRINT 1 DEFINE X = 2", "X Y"}, "PRINT 1 2 Y\r\n"},
      {{"DEFINE X 5 6"}, "\r\nPREPROCESSOR ERROR: '=' EXPECTED... LINE: 1\r\n 6\r\n"},
      {{"DEFINE 'hello world"}, "HELLO WORLD\r\n"},
      {{"DEFINE A = 1", "DEFINE a = 2", "PRINT A"},
       "\r\nPREPROCESSOR ERROR: EXISTING SYMBOL OR TABLE IS FULL... LINE: 2\r\nPRINT 1\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines.front());
    const Conversion run = convert(c.lines);
    EXPECT_EQ(run.output, c.output);
    EXPECT_EQ(run.result.outcome, Outcome::Done);
  }
}

TEST(LineProcessorTest, TheThousandAndFirstDefinitionIsRefused) {
  std::vector<std::string> lines;
  for (int i = 0; i <= 1000; ++i)
    lines.push_back("DEFINE S" + std::to_string(i) + " = " + std::to_string(i));
  lines.push_back("S999 S1000");
  EXPECT_EQ(
      convert(lines).output,
      "\r\nPREPROCESSOR ERROR: EXISTING SYMBOL OR TABLE IS FULL... LINE: 1001\r\n999 S1000\r\n");
}

TEST(LineProcessorTest, OutputIsTheSameWhateverTheBufferSize) {
  // Lines whose output outgrows their input: empty strings after a number, an unclosed empty
  // string, long substituted values, messages.
  const std::vector<std::string> lines = {
      "1 \"\"\"\"\"\"\"\"\"\"\"\"",
      "x \"",
      "\"a\"\"",
      "\"\"\"",
      "\"\" 1 \"\" a \"",
      "DEFINE V = " + std::string(300, 'v'),
      "V V V V V V V V V V",
      "1 V",
      "DEFINE X 5 6",
      "DEFINE A = \"s\" ' x",
      "a'b",
      "10",
      "10 ' c",
      std::string(1000, 'w') + " " + std::string(1000, '7'),
      "PRINT X :",
  };
  const Conversion reference = convert(lines, OutputBuffer::kDefaultCapacity);
  EXPECT_EQ(reference.result.outcome, Outcome::UnknownToken);
  for (std::size_t size : {1, 2, 7, 64, 1000}) {
    SCOPED_TRACE(size);
    const Conversion run = convert(lines, size);
    EXPECT_EQ(run.output, reference.output);
    EXPECT_EQ(run.result.outcome, reference.result.outcome);
  }
}

TEST(LineProcessorTest, ReportsEachDiagnosticWithItsLineAndColumn) {
  const struct {
    std::vector<std::string> lines;
    std::vector<std::string> diagnostics;
  } cases[] = {
      // Clean sources, including the joins that a label is meant to make.
      {{"10", "PRINT X", "20 REM c", "PRINT Y", "30 ' c", "PRINT \"a'b\""}, {}},
      {{"10", "", "REM gone", "DEFINE X = 1", "PRINT X"}, {}},
      {{"PRINT X :PRINT Y"}, {"1:9 unknown [:]"}},
      {{"A", "\t\xe9t\xe9"}, {"2:2 unknown [\xe9]"}},
      {{"PRINT \"abc", "B \""}, {"1:7 unclosed", "2:3 unclosed"}},
      {{"PRINT\"Hi there\" ; X"}, {"1:6 quote [PRINT\"Hi]"}},
      {{"x = 12\"3"}, {"1:7 quote [12\"3]"}},
      {{"100 REM x", "110 PRINT"}, {"2:1 joined [110] 1 '100'"}},
      {{"100", "", "REM y", "  110 PRINT", "120 X"}, {"4:3 joined [110] 1 '100'"}},
      {{"10 PRINT X ' c", "20 PRINT Y"}, {"2:1 joined [20] 1 '10'"}},
      {{"10", "20", "END"}, {"2:1 joined [20] 1 '10'"}},
      // After a join, lines that the fast path takes: a number first, or none.
      {{"10 REM a", "REM b", "\t 20 ' x", "30", "\tX = 1"},
       {"3:3 joined [20] 1 '10'", "4:1 joined [30] 3 '20'"}},
      {{"10", "\tPRINT X", "20 Y"}, {}},
      {{"DEFINE L = 20", "10 'c", "l X", "l"}, {"3:1 joined [20] 2 '10'"}},
      {{"A=1 REM note", "B=2"}, {"1:5 rem"}},
      {{"10 PRINT X rem note", "20 PRINT Y"}, {"1:12 rem"}},
      {{"10 DEFINE X = 1", "20 PRINT X"}, {"2:1 joined [20] 1 '10'"}},
      {{"10", "DEFINE L = 20", "  l PRINT"}, {"3:3 joined [20] 1 '10'"}},
      {{"PRINT define X = 1", "A=2"}, {"1:7 define"}},
      {{"PRINT DEFINE X", "A=2"}, {"1:15 equals"}},
      {{"PRINT DEFINE", "A=2"}, {"1:7 define"}},
      {{"PRINT DEFINE 5 = 3", "A=2"}, {}},
      {{"DEFINE X 5"}, {"1:10 equals [5]"}},
      {{"DEFINE X"}, {"1:9 equals"}},
      {{"DEFINE X = \"s\""}, {"1:12 value [s]"}},
      {{"DEFINE X = \"s"}, {"1:12 unclosed", "1:12 value [s]"}},
      {{"DEFINE X = +"}, {"1:12 value [+]"}},
      {{"DEFINE X :"}, {"1:10 equals [:]", "1:10 unknown [:]"}},
      {{"DEFINE A = 1", "", "  define a = 2"}, {"3:10 defined [A] 1"}},
      {{"DEFINE 5 = 3", "DEFINE"}, {}},
      // A quote inside a word is warned about only where the output changes; what it leaves
      // behind on its line is a note to it.
      {{"10 PRINT\"\"", "20 PRINT\"\";X", "PRINT\"A B\""}, {}},
      {{"PRINT\"a\""}, {"1:6 quote [PRINT\"a\"]"}},
      {{"100 PRINT\"DO YOU (YES--1,NO--0)\""},
       {"1:10 quote [PRINT\"DO]", "1:32 note unclosed @10"}},
      {{"PRINT\"A\" X \"B"}, {"1:12 unclosed"}},
      {{"610 PRINT\"   [TEAR OFF]\""},
       {"1:10 quote [PRINT\"]", "1:14 unknown [[]", "1:10 note quote [PRINT\"] @10"}},
      {{"A\"B DEFINE X = 1 \""}, {"1:2 quote [A\"B]", "1:5 define"}},
      // DEFINE in the text is judged as any word; where the line with the blank reads it as a
      // directive, the comparison stops before it, and the warning stays.
      {{"PRINT\"DEFINE\""}, {}},
      // Judged from the masks where they can tell, by both conversions where they cannot.
      {{"10 PRINT\"A B\";X", "PRINT\"A+B\" ' c", "PRINT\"A 5\"", "PRINT\"A\" \"b\""}, {}},
      {{"PRINT\"A  B\""}, {"1:6 quote [PRINT\"A]"}},
      {{"PRINT\"A\tB\""}, {"1:6 quote [PRINT\"A]"}},
      {{"10 PRINT\"A 5\" ' c", "20 X"}, {"1:9 quote [PRINT\"A]"}},
      {{"PRINT\"A\"B"}, {"1:6 quote [PRINT\"A\"B]"}},
      {{"REM\"A\""}, {"1:4 quote [REM\"A\"]"}},
      {{"DEFINE X = 1", "X\"A\"", "PRINT\"X\""}, {"2:2 quote [X\"A\"]"}},
      {{"DEFINE AB = 1", "PRINT\"AB\"", "PRINT\"A AB\""}, {}},
      {{"PRINT\"A B\"C\"D\""}, {"1:6 quote [PRINT\"A]"}},
      {{"PRINT\"A ' B\""}, {"1:6 quote [PRINT\"A]"}},
      {{"X = 12\"3\""}, {}},
      // Quotes of the next step after a string open at the end of the one before.
      {{"PRINT \"" + std::string(60, 'A') + "\";Y\"c\""}, {"1:71 quote [Y\"c\"]"}},
      {{"A\"B \"DEFINE Y = 1", "DEFINE Y = 2"}, {"1:2 quote [A\"B]", "1:5 note unclosed @2"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lines.front());
    const Conversion run = convert(c.lines);
    EXPECT_EQ(run.diagnostics, c.diagnostics);
  }
  std::vector<std::string> lines;
  for (int i = 0; i <= 1000; ++i)
    lines.push_back("DEFINE S" + std::to_string(i) + " = 1");
  EXPECT_EQ(convert(lines).diagnostics, std::vector<std::string>{"1001:8 full [S1000]"});
}

// An observer that judges no quote (one that passes on no warning) is not warned of a quote inside
// a word, and what follows it stands on its own but for the note of an error that the quote
// explains. The output stays the same.
TEST(LineProcessorTest, NothingIsToldOfQuotesToAnObserverThatJudgesNone) {
  const struct {
    std::vector<std::string> lines;
    std::vector<std::string> diagnostics;
  } cases[] = {
      {{"10 PRINT\"\""}, {}},
      {{"PRINT\"a\""}, {}},
      {{"100 PRINT\"DO (YES--1,NO--0)\""}, {"1:28 unclosed"}},
      {{"610 PRINT\" [X]\""}, {"1:12 unknown [[]", "1:10 note quote [PRINT\"] @10"}},
      // The join's warning, without the note that names the quote.
      {{"10 PRINT\"IT'S", "20 X"}, {"2:1 joined [20] 1 '10'"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lines.front());
    for (const bool fast : {false, true}) {
      testing::StringSink judged_output, output;
      DiagnosticRecorder judged, unjudged;
      unjudged.judges = false;
      LineProcessor judging(judged_output), processor(output);
      judging.set_diagnostics(&judged);
      processor.set_diagnostics(&unjudged);
      processor.set_fast_path(fast);
      testing::VectorLineSource a(c.lines), b(c.lines);
      EXPECT_EQ(processor.process_input(a).outcome, judging.process_input(b).outcome);
      EXPECT_EQ(unjudged.events, c.diagnostics);
      EXPECT_EQ(output.text, judged_output.text);
    }
  }
}

TEST(LineProcessorTest, ParsesADefinitionAsADefineLine) {
  const struct {
    std::string_view text;
    DefineResult result;
    std::string_view name, value;
  } cases[] = {
      {" max = 10\t", DefineResult::Defined, "max", "10"},
      {"Out=print", DefineResult::Defined, "Out", "print"},
      {"A", DefineResult::MissingEquals, "", ""},
      {"=1", DefineResult::BadName, "", ""},
      {"A B=1", DefineResult::BadName, "", ""},
      {"A=1=2", DefineResult::BadValue, "", ""},
      {"A=\"s\"", DefineResult::BadValue, "", ""},
  };
  for (const auto& c : cases) {
    const ParsedDefinition d = parse_definition(c.text);
    EXPECT_EQ(d.result, c.result) << c.text;
    EXPECT_EQ(d.name, c.name) << c.text;
    EXPECT_EQ(d.value, c.value) << c.text;
  }
}

TEST(LineProcessorTest, DefinesConstantsFromOutside) {
  testing::StringSink output;
  LineProcessor processor(output);
  const struct {
    std::string_view name, value;
    DefineResult result;
  } cases[] = {
      {"MAX", "100", DefineResult::Defined},
      {" out ", "\tprint ", DefineResult::Defined},
      {"max", "1", DefineResult::AlreadyDefined},
      {"", "1", DefineResult::BadName},
      {"A B", "1", DefineResult::BadName},
      {"5", "1", DefineResult::BadName},
      {"A;", "1", DefineResult::BadName},
      {"A", "", DefineResult::BadValue},
      {"A", "\"s\"", DefineResult::BadValue},
      {"A", "1 2", DefineResult::BadValue},
      {"A", std::string_view("1\0", 2), DefineResult::BadValue},
  };
  for (const auto& c : cases)
    EXPECT_EQ(processor.define_constant(c.name, c.value), c.result) << c.name << "=" << c.value;
  // The command line's value overrides the source's own: its DEFINE is taken as a successful one.
  DiagnosticRecorder recorder;
  processor.set_diagnostics(&recorder);
  testing::VectorLineSource source({"OUT MAX", "10 DEFINE max = 5", "OUT MAX"});
  processor.process_input(source);
  EXPECT_EQ(output.text, "PRINT 100\r\n10 PRINT 100\r\n");
  EXPECT_EQ(recorder.events, std::vector<std::string>{"2:11 overridden [MAX]"});
}

// Records each token as "LINE:COLUMN+LENGTH ROLE".
class TokenRecorder : public TokenObserver {
 public:
  void token(const TokenEvent& t) override {
    static constexpr const char* kRoles[] = {"word",       "number",  "label",     "string",
                                             "op",         "comment", "directive", "defined",
                                             "definition", "unknown"};
    events.push_back(std::to_string(t.line) + ":" + std::to_string(t.column) + "+" +
                     std::to_string(t.length) + " " + kRoles[static_cast<int>(t.role)]);
  }
  std::vector<std::string> events;
};

TEST(LineProcessorTest, KeepGoingReportsEveryProblemAndTellsEachToken) {
  testing::StringSink output;
  testing::StringSink console;
  DiagnosticRecorder recorder;
  TokenRecorder tokens;
  cli::QuoteWarnings quote_warnings(console, &recorder);
  LineProcessor processor(output);
  processor.set_diagnostics(&quote_warnings);
  processor.set_keep_going(true);
  processor.set_token_observer(&tokens);
  testing::VectorLineSource source(
      {"10 DEFINE N = 5 ' c", "A : B", "PRINT N;\"x\" REM r", "C \"", "D ] E"});
  const ProcessResult result = processor.process_input(source);
  EXPECT_EQ(result.outcome, Outcome::UnknownToken);
  EXPECT_EQ(output.text, "10 A\r\nUNKNOWN ERROR! LINE: 2\r\n");
  EXPECT_EQ(console.text, "");  // nothing reaches the console after the stop
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"2:3 unknown [:]", "3:13 rem",
                                                       "4:3 unclosed", "5:3 unknown []] 2"}));
  EXPECT_EQ(recorder.extents, (std::vector<std::string>{"3-4", "13-16", "3-4", "3-4"}));
  EXPECT_EQ(tokens.events,
            (std::vector<std::string>{
                "1:1+2 label", "1:4+6 directive", "1:11+1 definition", "1:13+1 op", "1:15+1 number",
                "2:1+1 word", "2:3+1 unknown", "2:5+1 word", "3:1+5 word", "3:7+1 defined",
                "3:8+1 op", "3:9+3 string", "3:13+5 comment", "4:1+1 word", "4:3+1 string",
                "5:1+1 word", "5:3+1 unknown", "5:5+1 word"}));
}

// A source far larger than the output buffer, of lines that hold their output while a quote inside
// a word is settled or a defined name is spliced in: the buffer hands the lines before on and never
// grows past what one line or one window asks for, with warnings wanted or not, a line at a time or
// a window at a time.
TEST(LineProcessorTest, MemoryStaysBoundedWhateverTheSourceSize) {
  struct Kind {
    std::string line;
    std::string output;
  };
  const std::vector<Kind> kinds = {
      {"10 PRINT\"HELLO WORLD\"", "10 PRINT\"HELLO WORLD\"\r\n"},
      {"20 print\"Hello\" ; x", "20 PRINT\"HELLO\";X\r\n"},
      {"N PRINT\"N\"", "5 PRINT\"N\"\r\n"},
      {"PRINT N+N", "PRINT 5+5\r\n"},
      {"A = \"B\" + C", "A=\"B\"+C\r\n"},
  };
  constexpr std::size_t kBuffer = 4096;
  for (const Kind& kind : kinds) {
    SCOPED_TRACE(kind.line);
    const std::vector<std::string> lines(2'000'000 / kind.line.size(), kind.line);
    for (const bool diagnostics : {false, true}) {
      for (const bool in_place : {false, true}) {
        testing::StringSink output;
        DiagnosticRecorder recorder;
        LineProcessor processor(output, kBuffer);
        processor.define_constant("N", "5");
        if (diagnostics) processor.set_diagnostics(&recorder);
        testing::VectorLineSource each(lines);
        testing::PaddedLineSource padded(lines, std::string());
        processor.process_input(in_place ? static_cast<LineSource&>(padded) : each);
        EXPECT_EQ(output.text.size(), lines.size() * kind.output.size());
        EXPECT_EQ(output.text.substr(0, kind.output.size()), kind.output);
        // A window's lines written together reserve room for twice the window at most.
        const std::size_t bound = in_place ? 2 * fast_block::kWindow + 2 * simd::kStep : kBuffer;
        EXPECT_LE(processor.output_capacity(), std::max(kBuffer, bound)) << diagnostics << in_place;
      }
    }
  }
}

TEST(LineProcessorTest, WriteFailureStopsTheRun) {
  testing::StringSink output;
  output.refuse = true;
  testing::VectorLineSource source({"A", "B", "C"});
  LineProcessor processor(output, 4);
  EXPECT_EQ(processor.process_input(source).outcome, Outcome::WriteFailed);
}

}  // namespace
}  // namespace vorpex

// Diagnostics on standard error and the options that shape a run, through the real binary.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "harness.h"

namespace vorpex_e2e {
namespace {

// A source and the lines that standard error must hold for it after `-i in.bas -o out.bas`.
struct DiagnosticCase {
  std::string name;
  std::string source;
  std::string errors;
  int status;
};

void PrintTo(const DiagnosticCase& c, std::ostream* os) {
  *os << c.name;
}

const std::vector<DiagnosticCase> kDiagnostics = {
    {"CleanSource", "10\nPRINT X\n20 REM c\nPRINT Y\n30 ' c\nPRINT \"a'b\"\n", "", 0},
    {"UnknownCharacter", "PRINT X\nPRINT X :PRINT Y\nPRINT Z\n",
     "in.bas:2:9: error: the character ':' begins no token; the conversion stops here "
     "[unknown-character]\n",
     1},
    {"UnknownByteShownInHex", "\t\xe9t\xe9\n",
     "in.bas:1:2: error: the character '\\xE9' begins no token; the conversion stops here "
     "[unknown-character]\n",
     1},
    // A character of several bytes is one diagnostic, over all of its bytes.
    {"UnknownUtf8CharacterOnce", "10 PRINT \xE2\x82\xAC\n",
     "in.bas:1:10: error: the character '\\xE2\\x82\\xAC' (U+20AC) begins no token; the "
     "conversion stops here [unknown-character]\n",
     1},
    {"EqualsExpected", "DEFINE X 5\nDEFINE Y\n",
     "in.bas:1:10: error: DEFINE: '=' expected after the name, found '5' [equals-expected]\n"
     "in.bas:2:9: error: DEFINE: '=' expected after the name, found the end of the line "
     "[equals-expected]\n",
     0},
    {"ValueExpected", "DEFINE X = \"s\"\nDEFINE Y = +\n",
     "in.bas:1:12: error: DEFINE: a name or a number expected after '=', found the string \"s\" "
     "[value-expected]\n"
     "in.bas:2:12: error: DEFINE: a name or a number expected after '=', found '+' "
     "[value-expected]\n",
     0},
    {"AlreadyDefined", "DEFINE A = 1\n\ndefine a = 2\n",
     "in.bas:3:8: error: DEFINE: 'A' is already defined at line 1; the first definition stays "
     "[already-defined]\n",
     0},
    {"UnclosedString", "PRINT \"abc\nX\n",
     "in.bas:1:7: warning: string not closed before the end of the line [unclosed-string]\n", 0},
    {"QuoteInWord", "PRINT\"Hi there\"\n",
     "in.bas:1:6: warning: double quote inside the word 'PRINT\"Hi': the quoted text becomes part "
     "of it; a blank before the quote keeps it a string [quote-in-word]\n",
     0},
    {"NumberJoined", "100 REM x\n\n110 PRINT\n",
     "in.bas:3:1: warning: line number '110' is joined to '100' of input line 1 on one output "
     "line: a line that holds only a number, or a number and a comment or a DEFINE, joins the "
     "next line [number-joined]\n",
     0},
    // A label before a DEFINE, and a name whose value is a number standing as a label.
    {"NumberJoinedAfterDefine", "10 DEFINE X = 1\n20 PRINT X\n",
     "in.bas:2:1: warning: line number '20' is joined to '10' of input line 1 on one output "
     "line: a line that holds only a number, or a number and a comment or a DEFINE, joins the "
     "next line [number-joined]\n",
     0},
    {"ValueJoinedAsANumber", "10\nDEFINE L = 20\n  l PRINT\n",
     "in.bas:3:3: warning: line number '20' is joined to '10' of input line 1 on one output "
     "line: a line that holds only a number, or a number and a comment or a DEFINE, joins the "
     "next line [number-joined]\n",
     0},
    {"RemAfterStatement", "A=1 REM note\nB=2\n",
     "in.bas:1:5: warning: REM after a statement takes the line break with it, so the next line "
     "continues this one; put the comment on a line of its own [rem-joins-next-line]\n",
     0},
    {"DefineAfterStatement", "PRINT DEFINE X = 1\nA=2\n",
     "in.bas:1:7: warning: DEFINE after a statement takes the line break with it, so the next "
     "line continues this one; put the DEFINE on a line of its own [define-joins-next-line]\n",
     0},
    {"LongTokenCut", "X = 1" + std::string(100, '2') + "\"\n",
     "in.bas:1:106: warning: double quote inside the number '1" + std::string(39, '2') +
         "...': the quoted text becomes part of it; a blank before the quote keeps it a string "
         "[quote-in-word]\n",
     0},
};

class DiagnosticTest : public testing::TestWithParam<DiagnosticCase> {};

TEST_P(DiagnosticTest, ReportedOnStandardErrorOutputUnchanged) {
  const DiagnosticCase& c = GetParam();
  const RunResult r = convert(c.source);
  EXPECT_EQ(r.errors, c.errors);
  EXPECT_EQ(r.status, c.status);
  expect_well_formed_errors(r.errors);
}

INSTANTIATE_TEST_SUITE_P(Vorpex, DiagnosticTest, testing::ValuesIn(kDiagnostics),
                         [](const testing::TestParamInfo<DiagnosticCase>& info) {
                           return info.param.name;
                         });

// A run with options, in a sandbox holding in.bas (kSource) and old.bas.
struct OptionCase {
  std::string name;
  std::vector<std::string> args;
  std::string console;  // standard output
  std::string errors;   // standard error
  int status;
  std::optional<std::string> output;  // out.bas afterwards
  std::optional<std::string> map;     // map.txt afterwards
  std::string standard_input = {};
};

void PrintTo(const OptionCase& c, std::ostream* os) {
  *os << c.name;
}

// Line 2 has an unclosed string, line 3 a malformed DEFINE.
const std::string kSource = "10\nPRINT \"x\nDEFINE Y 1\nPRINT MAX\n";
const std::string kConvertedSource =
    "10 PRINT \"x\"\r\n\r\nPREPROCESSOR ERROR: '=' EXPECTED... LINE: 3\r\n\r\nPRINT MAX\r\n";
const std::string kQuote = "\r\r\nUNBALANCED QUOTE!\r\r\n";
const std::string kHead = kBanner + "input file: in.bas\r\noutput file: out.bas\r\n";
const std::string kWarning =
    "in.bas:2:7: warning: string not closed before the end of the line [unclosed-string]\n";
const std::string kError =
    "in.bas:3:10: error: DEFINE: '=' expected after the name, found '1' [equals-expected]\n";

const std::vector<OptionCase> kOptions = {
    {"Default",
     {"-i", "in.bas", "-o", "out.bas"},
     kHead + kQuote + kSuccess,
     kWarning + kError,
     0,
     kConvertedSource,
     std::nullopt},
    {"Quiet",
     {"-q", "-i", "in.bas", "-o", "out.bas"},
     "",
     kWarning + kError,
     0,
     kConvertedSource,
     std::nullopt},
    {"QuietLong",
     {"-i", "in.bas", "--quiet", "-o", "out.bas"},
     "",
     kWarning + kError,
     0,
     kConvertedSource,
     std::nullopt},
    {"NoWarnings",
     {"-w", "-i", "in.bas", "-o", "out.bas"},
     kHead + kQuote + kSuccess,
     kError,
     0,
     kConvertedSource,
     std::nullopt},
    {"NoWarningsLong",
     {"--no-warnings", "-i", "in.bas", "-o", "out.bas"},
     kHead + kQuote + kSuccess,
     kError,
     0,
     kConvertedSource,
     std::nullopt},
    {"StrictFails",
     {"--strict", "-i", "in.bas", "-o", "out.bas"},
     kHead + kQuote,
     kWarning + kError,
     1,
     kConvertedSource,
     std::nullopt},
    {"Define",
     {"-D", "MAX=10", "-i", "in.bas", "-o", "out.bas", "--define", " y = z "},
     kHead + kQuote + kSuccess,
     kWarning + kError,
     0,
     "10 PRINT \"x\"\r\n\r\nPREPROCESSOR ERROR: '=' EXPECTED... LINE: 3\r\n\r\nPRINT 10\r\n",
     std::nullopt},
    {"DefineAttachedLong",
     {"--define=MAX=0x1f", "-i", "in.bas", "-o", "out.bas"},
     kHead + kQuote + kSuccess,
     kWarning + kError,
     0,
     "10 PRINT \"x\"\r\n\r\nPREPROCESSOR ERROR: '=' EXPECTED... LINE: 3\r\n\r\nPRINT 0X1F\r\n",
     std::nullopt},
    {"DefineRefusedBeforeFiles",
     {"-i", "in.bas", "-o", "out.bas", "-D", "A B=1"},
     kHead,
     "vorpex: cannot define 'A B=1': the name must be one word\n",
     1,
     std::nullopt,
     std::nullopt},
    {"DefineWithoutEquals",
     {"-i", "in.bas", "-o", "out.bas", "-D", "MAX"},
     kHead,
     "vorpex: cannot define 'MAX': expected NAME=VALUE\n",
     1,
     std::nullopt,
     std::nullopt},
    {"DefineTwice",
     {"-i", "in.bas", "-o", "out.bas", "-D", "A=1", "-D", "a=2"},
     kHead,
     "vorpex: cannot define 'a=2': the name is already defined\n",
     1,
     std::nullopt,
     std::nullopt},
    {"DefineBadValue",
     {"-i", "in.bas", "-o", "out.bas", "-D", "A=\"s\""},
     kHead,
     "vorpex: cannot define 'A=\"s\"': the value must be one name or one number\n",
     1,
     std::nullopt,
     std::nullopt},
    {"DefineMissingValue",
     {"-i", "in.bas", "-o", "out.bas", "-D"},
     kHead + "Missing definition for parameter: -D\r\n\r\n" + kUsage,
     "vorpex: option '-D' needs a value\n",
     1,
     std::nullopt,
     std::nullopt},
    {"Map",
     {"-i", "in.bas", "-o", "out.bas", "--map", "map.txt"},
     kHead + "map file: map.txt\r\n" + kQuote + kSuccess,
     kWarning + kError,
     0,
     kConvertedSource,
     "1\t1\n2\t3\n3\t3\n4\t3\n5\t4\n"},
    {"MapIsTheInput",
     {"-i", "in.bas", "-o", "out.bas", "--map=in.bas"},
     kHead + "map file: in.bas\r\nThe map file is the input or the output file: in.bas\r\n",
     "vorpex: 'in.bas' is the input or the output file: refusing to write over it\n",
     1,
     std::nullopt,  // created, then given up
     std::nullopt},
    {"MapIsTheOutput",
     {"-i", "in.bas", "-o", "out.bas", "--map", "out.bas"},
     kHead + "map file: out.bas\r\nThe map file is the input or the output file: out.bas\r\n",
     "vorpex: 'out.bas' is the input or the output file: refusing to write over it\n",
     1,
     std::nullopt,  // created, then given up
     std::nullopt},
    {"StandardStreams",
     {"-i", "-", "-o", "-"},
     kConvertedSource,
     kBanner + "input file: -\r\noutput file: -\r\n" + kQuote +
         "<stdin>:2:7: warning: string not closed before the end of the line [unclosed-string]\n"
         "<stdin>:3:10: error: DEFINE: '=' expected after the name, found '1' [equals-expected]\n" +
         kSuccess,
     0,
     std::nullopt,
     std::nullopt,
     "in.bas"},
    {"DashPathIsAFileWithDotSlash",
     {"-i", "./-", "-o", "out.bas"},
     kBanner + "input file: ./-\r\noutput file: out.bas\r\nCould not open file: ./-, error: 2",
     "vorpex: cannot open './-': No such file or directory\n",
     1,
     std::nullopt,
     std::nullopt},
    {"UnknownLongOption",
     {"-i", "in.bas", "-o", "out.bas", "--quiet=yes"},
     kHead + "Unknown parameter: --quiet=yes\r\n\r\n" + kUsage,
     "vorpex: unknown option '--quiet=yes'\n",
     1,
     std::nullopt,
     std::nullopt},
};

class OptionTest : public testing::TestWithParam<OptionCase> {};

TEST_P(OptionTest, ConsoleErrorsStatusAndFiles) {
  const OptionCase& c = GetParam();
  Sandbox sandbox;
  sandbox.write("in.bas", kSource);
  const RunResult r = sandbox.run(c.args, "out.bas", c.standard_input);
  EXPECT_EQ(r.console, c.console);
  EXPECT_EQ(r.errors, c.errors);
  EXPECT_EQ(r.status, c.status);
  EXPECT_EQ(r.output, c.output);
  EXPECT_EQ(sandbox.read("map.txt"), c.map);
  EXPECT_EQ(sandbox.read("in.bas"), kSource);
  // With the program on standard output, the console's messages share standard error.
  if (c.standard_input.empty()) expect_well_formed_errors(r.errors);
}

INSTANTIATE_TEST_SUITE_P(Vorpex, OptionTest, testing::ValuesIn(kOptions),
                         [](const testing::TestParamInfo<OptionCase>& info) {
                           return info.param.name;
                         });

// -k and -D on sources of their own, and CRs that end no line: the same output and status as
// without -k; a DEFINE of a name given with -D gives way to it.
struct SourceOptionCase {
  std::string name;
  std::string source;
  std::vector<std::string> options;
  std::string output;
  std::string errors;
  int status;
};

void PrintTo(const SourceOptionCase& c, std::ostream* os) {
  *os << c.name;
}

const std::vector<SourceOptionCase> kSourceOptions = {
    // Without warnings a quote inside a word is not judged, and its line is read as any other;
    // the note of the error it explains stays.
    {"QuotesInWordsWithoutWarnings",
     "10 PRINT\"hi there\":PRINT\"A+B\"\n20 print\"it's\n30 PRINT\" [X]\"\n",
     {"-w", "-k"},
     "10 PRINT\"HI THERE\":PRINT\"A+B\"\r\n20 PRINT\"IT 30 PRINT\"\r\nUNKNOWN ERROR! LINE: 3\r\n",
     "in.bas:3:11: error: the character '[' begins no token; the conversion stops here "
     "[unknown-character]\n"
     "in.bas:3:9: note: this double quote went into the word 'PRINT\"', so the text after it, "
     "meant as a string, is read as tokens [quote-in-word]\n",
     1},
    {"KeepGoingReportsPastTheStop",
     "A : B\nPRINT \"x\nC ] D\n",
     {"-k"},
     "A\r\nUNKNOWN ERROR! LINE: 1\r\n",
     "in.bas:1:3: error: the character ':' begins no token; the conversion stops here "
     "[unknown-character]\n"
     "in.bas:2:7: warning: string not closed before the end of the line [unclosed-string]\n"
     "in.bas:3:3: error: the character ']' begins no token (the conversion stopped at line 1) "
     "[unknown-character]\n",
     1},
    {"KeepGoingStrict",
     "PRINT \"x\n",
     {"-k", "--strict"},
     "PRINT \"x\"\r\n",
     "in.bas:1:7: warning: string not closed before the end of the line [unclosed-string]\n",
     1},
    {"DefineOverridesTheSource",
     "10 DEFINE DEBUG = 0\nPRINT DEBUG\n",
     {"-D", "DEBUG=1"},
     "10 PRINT 1\r\n",
     "in.bas:1:11: warning: DEFINE: 'DEBUG' is defined on the command line; the value given "
     "there is used [define-overridden]\n",
     0},
    // -D overrides one DEFINE of the name; a second is the mistake it is without -D.
    {"DefineOverridesOnce",
     "DEFINE X = 1\nDEFINE X = 2\nPRINT X\n",
     {"-D", "X=5"},
     "\r\nPREPROCESSOR ERROR: EXISTING SYMBOL OR TABLE IS FULL... LINE: 2\r\nPRINT 5\r\n",
     "in.bas:1:8: warning: DEFINE: 'X' is defined on the command line; the value given there is "
     "used [define-overridden]\n"
     "in.bas:2:8: error: DEFINE: 'X' is already defined at line 1; the first definition stays "
     "[already-defined]\n",
     0},
    // A CR that ends no line joins two lines: told once, at the first, with the count. A CR
    // before an LF, or before CRs that an LF ends, and one at the end of the input end a line.
    {"LoneCrJoinsLines",
     "10 PRINT 1\r20 PRINT 2\r\n30 A\r\r\n40 B\rC\r\rD\r",
     {},
     "10 PRINT 120 PRINT 2\r\n30 A\r\n40 BCD\r\n",  // the join makes 1 and 20 one number
     "in.bas:1:11: warning: a CR before this text ends no line: every CR is dropped and only LF "
     "ends a line, so this text continues the line before it (3 such CRs in the source) "
     "[cr-joins-lines]\n",
     0},
    {"LoneCrOnALaterLine",
     "10 A\r\n20 B\rC\n",
     {},
     "10 A\r\n20 BC\r\n",
     "in.bas:2:5: warning: a CR before this text ends no line: every CR is dropped and only LF "
     "ends a line, so this text continues the line before it [cr-joins-lines]\n",
     0},
    // A stop leaves the rest unread, and nothing is told of the CRs; -k tells them all.
    {"LoneCrAfterTheStop",
     "10 .\n20 A\rB\n",
     {},
     "10\r\nUNKNOWN ERROR! LINE: 1\r\n",
     "in.bas:1:4: error: the character '.' begins no token; the conversion stops here "
     "[unknown-character]\n",
     1},
    {"LoneCrBeforeTheStop",
     "10 A\rB\n20 .\n30 C\rD\n",
     {},
     "10 AB\r\n20\r\nUNKNOWN ERROR! LINE: 2\r\n",
     "in.bas:2:4: error: the character '.' begins no token; the conversion stops here "
     "[unknown-character]\n",
     1},
    {"LoneCrsWithKeepGoing",
     "10 A\rB\n20 X :\n30 C\rD\n",
     {"-k"},
     "10 AB\r\n20 X\r\nUNKNOWN ERROR! LINE: 2\r\n",
     "in.bas:2:6: error: the character ':' begins no token; the conversion stops here "
     "[unknown-character]\n"
     "in.bas:1:5: warning: a CR before this text ends no line: every CR is dropped and only LF "
     "ends a line, so this text continues the line before it (2 such CRs in the source) "
     "[cr-joins-lines]\n",
     1},
    // Past the stop, -k reports what a run with the stopping characters made blanks reports: a
    // whole character once, and a quote inside a word judged on the line as that run reads it.
    {"KeepGoingAsARerun",
     "A : B\nX = \xC3\xA9 + \xF0\x9F\x98\x80\n490 PRINT\"W\",: PRINT\n",
     {"-k"},
     "A\r\nUNKNOWN ERROR! LINE: 1\r\n",
     "in.bas:1:3: error: the character ':' begins no token; the conversion stops here "
     "[unknown-character]\n"
     "in.bas:2:5: error: the character '\\xC3\\xA9' (U+00E9) begins no token (the conversion "
     "stopped at line 1) [unknown-character]\n"
     "in.bas:2:10: error: the character '\\xF0\\x9F\\x98\\x80' (U+1F600) begins no token (the "
     "conversion stopped at line 1) [unknown-character]\n"
     "in.bas:3:14: error: the character ':' begins no token (the conversion stopped at line 1) "
     "[unknown-character]\n",
     1},
    // The note of a join that a comment opened, held while the quote of its line is judged, keeps
    // its word when keep-going reads on past the stop to another such comment.
    {"HeldNoteKeepsItsWordPastTheStop",
     "8A\" 'x\n9BC\" $'y\n",
     {"-k"},
     "8A\" 9BC\"\r\nUNKNOWN ERROR! LINE: 2\r\n",
     "in.bas:1:3: warning: double quote inside the number '8A\"': the quoted text becomes part of "
     "it; a blank before the quote keeps it a string [quote-in-word]\n"
     "in.bas:2:4: warning: double quote inside the number '9BC\"': the quoted text becomes part "
     "of it; a blank before the quote keeps it a string [quote-in-word]\n"
     "in.bas:2:1: warning: line number '9BC\"' is joined to '8A\"' of input line 1 on one output "
     "line: a line that holds only a number, or a number and a comment or a DEFINE, joins the "
     "next line [number-joined]\n"
     "in.bas:1:5: note: this apostrophe began a comment, which took the line break with it: the "
     "double quote before it went into the word '8A\"' instead of opening the string that the "
     "apostrophe was meant to be in [number-joined]\n"
     "in.bas:2:6: error: the character '$' begins no token; the conversion stops here "
     "[unknown-character]\n"
     "in.bas:2:4: note: this double quote went into the word '9BC\"', so the text after it, "
     "meant as a string, is read as tokens [quote-in-word]\n",
     1},
    // An apostrophe meant inside a string that a quote in a word left unopened joins the next
    // line: the joined number's warning points at it.
    {"JoinedByAnApostropheInAString",
     "61 PRINT\", I DON'T KNOW\"\n65 GOTO 10\n",
     {},
     "61 PRINT\",I DON 65 GOTO 10\r\n",
     "in.bas:1:9: warning: double quote inside the word 'PRINT\"': the quoted text becomes part "
     "of it; a blank before the quote keeps it a string [quote-in-word]\n"
     "in.bas:2:1: warning: line number '65' is joined to '61' of input line 1 on one output line: "
     "a line that holds only a number, or a number and a comment or a DEFINE, joins the next line "
     "[number-joined]\n"
     "in.bas:1:17: note: this apostrophe began a comment, which took the line break with it: the "
     "double quote before it went into the word 'PRINT\"' instead of opening the string that the "
     "apostrophe was meant to be in [number-joined]\n",
     0},
    {"SourceDefineWithoutOverride",
     "10 DEFINE DEBUG = 0\nPRINT DEBUG\n",
     {"-D", "X=1"},
     "10 PRINT 0\r\n",
     "",
     0},
    {"NotesFollowTheirWarning",
     "100 PRINT\"DO (YES--1)\"\n10 PRINT\"\";X\n",
     {},
     "100 PRINT\"DO(YES--1)\"\"\r\n10 PRINT\"\";X\r\n",
     "in.bas:1:10: warning: double quote inside the word 'PRINT\"DO': the quoted text becomes "
     "part of it; a blank before the quote keeps it a string [quote-in-word]\n"
     "in.bas:1:22: note: string not closed before the end of the line: the double quote at "
     "column 10 went into a word, so this quote opens a string instead of closing one "
     "[unclosed-string]\n",
     0},
};

class SourceOptionTest : public testing::TestWithParam<SourceOptionCase> {};

TEST_P(SourceOptionTest, OutputErrorsAndStatus) {
  const SourceOptionCase& c = GetParam();
  Sandbox sandbox;
  sandbox.write("in.bas", c.source);
  std::vector<std::string> args = {"-q", "-i", "in.bas", "-o", "out.bas"};
  args.insert(args.end(), c.options.begin(), c.options.end());
  const RunResult r = sandbox.run(args);
  EXPECT_EQ(r.output, c.output);
  EXPECT_EQ(r.errors, c.errors);
  EXPECT_EQ(r.status, c.status);
  expect_well_formed_errors(r.errors);
}

INSTANTIATE_TEST_SUITE_P(Vorpex, SourceOptionTest, testing::ValuesIn(kSourceOptions),
                         [](const testing::TestParamInfo<SourceOptionCase>& info) {
                           return info.param.name;
                         });

TEST(InformationTest, HelpAndVersionAnswerAnyCommandLine) {
  Sandbox sandbox;
  const RunResult help = sandbox.run({"-i", "x.bas", "--help", "-o", "y.bas"}, "y.bas");
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(help.console.starts_with(kBanner + kUsage + "\r\n  -i FILE")) << help.console;
  for (const char* option : {"-k, --keep-going", "--strict", "--map FILE", "--version"})
    EXPECT_NE(help.console.find(option), std::string::npos) << option;
  EXPECT_FALSE(help.output.has_value());
  const RunResult version = sandbox.run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(version.console.starts_with("vorpex 1.0.0\r\nMIT License")) << version.console;
  // -h keeps its own behaviour.
  EXPECT_EQ(sandbox.run({"-h"}).status, 2);
  EXPECT_EQ(sandbox.run({"-i", "--help", "-h", "x"}).status, 0);
}

}  // namespace
}  // namespace vorpex_e2e

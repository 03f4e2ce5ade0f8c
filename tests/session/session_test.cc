#include "session/session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "engine/diagnostic_text.h"

namespace vorpex {
namespace {

TEST(Session, RefusesConstantsAsTheCommandLineDoes) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
      {{"A=1", " b = x "}, ""},
      {{"LEDS=7", "LEDS=8"}, "cannot define 'LEDS=8': the name is already defined"},
      {{"leds=7", "LEDS=8"}, "cannot define 'LEDS=8': the name is already defined"},
      {{"A B=1"}, "cannot define 'A B=1': the name must be one word"},
      {{"X=1 2"}, "cannot define 'X=1 2': the value must be one name or one number"},
      {{"__proto__=3"}, "cannot define '__proto__=3': the name must be one word"},
      {{"MAX"}, "cannot define 'MAX': expected NAME=VALUE"},
  };
  for (const auto& [defines, refusal] : rows) {
    EXPECT_EQ(refuse_constants(defines), refusal);
    // One at a time: the refused one is left out, with the same words, and the others kept.
    std::vector<ConstantRefusal> refused;
    const std::vector<std::string> kept = accepted_constants(defines, refused);
    EXPECT_EQ(kept.size() + refused.size(), defines.size());
    EXPECT_EQ(refused.empty() ? "" : refused[0].message, refusal);
    SessionOptions options;
    options.defines = defines;
    const SessionResult result = convert("PRINT A\n", options);
    EXPECT_EQ(result.refusal, refusal);
    EXPECT_EQ(result.status, refusal.empty() ? 0 : 1);
    EXPECT_EQ(result.output, refusal.empty() ? "PRINT 1\r\n" : "");
  }
}

// The diagnostics of a buffer: which are shown, and where each stands in the source as given.
TEST(Session, ShowsDiagnosticsWithTheirPlacesInTheSource) {
  struct Row {
    std::string source;
    bool warnings;
    // code@offset-end_offset for each, "note:" before a note
    std::vector<std::string> expected;
  };
  const std::vector<Row> rows = {
      {"10 PRINT \xE2\x82\xAC\n", true, {"unknown-character@9-12"}},
      // CR bytes count in the offsets, though the converter drops them.
      {"A\r\r=\"x\r\nB :\r\n",
       true,
       {"unclosed-string@4-6", "unknown-character@10-11", "cr-joins-lines@3-3"}},
      // The end of a line stands before the CR that ends it.
      {"DEFINE X =\r\n", true, {"value-expected@10-10"}},
      {"100 PRINT\"DO (YES--1)\"\n", true, {"quote-in-word@9-12", "note:unclosed-string@21-22"}},
      // Without warnings, a warning's notes go with it.
      {"100 PRINT\"DO (YES--1)\"\nX :\n", false, {"unknown-character@25-26"}},
      // Without warnings the quote is not judged (its line is converted once), and the note that
      // it left a string open goes with the error it explains.
      {"100 PRINT\"DO (YES--1)\"\n", false, {}},
      {"610 PRINT\" [X]\"\n", false, {"unknown-character@11-12", "note:quote-in-word@9-10"}},
      // A note about an earlier line: the apostrophe that joined the next line.
      {"61 PRINT\", I DON'T\"\r\n65 GOTO 10\n",
       true,
       {"quote-in-word@8-9", "number-joined@21-23", "note:number-joined@16-17"}},
      // CRs that end no line: told last, at the text after the first run of them.
      {"A :\nB\r\rC\rD\r\n", true, {"unknown-character@2-3", "cr-joins-lines@7-7"}},
      {"A\r\nB\rC", true, {"cr-joins-lines@5-5"}},
      {"X\n" + std::string(70, 'A') + "\rB\rC\n", true, {"cr-joins-lines@73-73"}},
  };
  for (const Row& row : rows) {
    SessionOptions options;
    options.warnings = row.warnings;
    options.keep_going = true;
    const SessionResult result = convert(row.source, options);
    std::vector<std::string> got;
    for (const KeptDiagnostic& d : result.diagnostics) {
      got.push_back((d.note ? "note:" : "") + std::string(diagnostic_code(d.kind)) + "@" +
                    std::to_string(d.offset) + "-" + std::to_string(d.end_offset));
    }
    EXPECT_EQ(got, row.expected) << row.source;
    // A kept analysis finds the same warning of them from the text alone.
    if (const std::optional<KeptDiagnostic> w = cr_joins_warning(row.source)) {
      ASSERT_FALSE(result.diagnostics.empty());
      const KeptDiagnostic& last = result.diagnostics.back();
      EXPECT_EQ(std::tie(w->line, w->column, w->offset, w->count),
                std::tie(last.line, last.column, last.offset, last.count));
    }
  }
}

TEST(Session, MapsOutputLinesToTheirInputLines) {
  SessionOptions options;
  options.line_map = true;
  const SessionResult result = convert("REM x\n10\n  PRINT 1\n\n20 END\n", options);
  EXPECT_EQ(result.output, "10 PRINT 1\r\n20 END\r\n");
  ASSERT_EQ(result.map.size(), 2u);
  EXPECT_EQ(result.map[0].first, 2);
  EXPECT_EQ(result.map[0].last, 3);
  EXPECT_EQ(result.map[1].first, 5);
  EXPECT_EQ(result.map[1].last, 5);
}

}  // namespace
}  // namespace vorpex

namespace vorpex {
namespace {

std::vector<std::string> described(const std::vector<KeptDiagnostic>& list) {
  std::vector<std::string> out;
  for (const KeptDiagnostic& d : list) {
    std::string text = std::to_string(d.line) + ":" + std::to_string(d.column) + " ";
    describe(text, d.view());
    out.push_back((d.note ? "note " : "") + text);
  }
  return out;
}

// Keep-going past a stop reports what runs with each stopping character made blanks report: the
// last such run's diagnostics, with each stop's error (and its note) where it stands.
TEST(Session, KeepGoingIsARerunWithTheStopsMadeBlanks) {
  const std::vector<std::string> pieces = {
      "PRINT",
      "X",
      "=",
      "1",
      ":",
      "?",
      "\xE2\x82\xAC",
      "\xC3\xA9",
      "\"s\"",
      "\"open",
      "A\"B",
      "PRINT\"DO (YES)\"",
      "' c",
      "REM r",
      "GOTO 10",
      ",",
      "DEFINE Q = 2",
      "Q",
  };
  std::uint32_t seed = 12345;
  const auto random = [&](std::uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % n;
  };
  for (int round = 0; round < 3000; ++round) {
    std::string source;
    for (std::uint32_t line = random(8) + 1; line > 0; --line) {
      if (random(3) == 0) source += std::to_string(10 * (random(9) + 1)) + " ";
      for (std::uint32_t n = random(6); n > 0; --n)
        source +=
            pieces[random(static_cast<std::uint32_t>(pieces.size()))] + (random(3) ? " " : "");
      source += random(4) ? "\n" : "\r\n";
    }
    SessionOptions options;
    options.keep_going = true;
    const SessionResult going = convert(source, options);

    options.keep_going = false;
    std::string rerun = source;
    std::vector<std::string> stops;
    SessionResult last;
    for (;;) {
      last = convert(rerun, options);
      if (last.status == 0) break;
      const KeptDiagnostic& stop = *std::find_if(
          last.diagnostics.begin(), last.diagnostics.end(),
          [](const KeptDiagnostic& d) { return d.kind == DiagnosticKind::UnknownCharacter; });
      stops.push_back(std::to_string(stop.line) + ":" + std::to_string(stop.column));
      rerun.replace(stop.offset, stop.end_offset - stop.offset, stop.end_offset - stop.offset, ' ');
    }
    // The stops, and the rest without them and their notes.
    std::vector<std::string> going_stops;
    std::vector<KeptDiagnostic> rest;
    bool in_stop = false;
    for (const KeptDiagnostic& d : going.diagnostics) {
      if (d.kind == DiagnosticKind::UnknownCharacter) {
        going_stops.push_back(std::to_string(d.line) + ":" + std::to_string(d.column));
        in_stop = true;
        continue;
      }
      if (in_stop && d.note && d.kind == DiagnosticKind::QuoteInWord) continue;
      in_stop = false;
      rest.push_back(d);
    }
    ASSERT_EQ(going_stops, stops) << source;
    ASSERT_EQ(described(rest), described(last.diagnostics)) << source;
  }
}

}  // namespace
}  // namespace vorpex

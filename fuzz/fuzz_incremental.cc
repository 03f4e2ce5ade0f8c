// The analysis kept from one version of a text to the next, held to a fresh one: the input is a
// source, and a series of edits made from it (pieces of the source moved about, and fragments
// that change how lines convert: line breaks, numbers, DEFINE lines, quotes, comments, a character
// that stops the conversion, the end-of-text byte). After each edit, or each burst of edits, the
// kept analysis must give exactly what analyze() gives for the text afresh: the diagnostics with
// their places, the definitions, references, line numbers and jumps, the jumps to a missing line,
// the tokens, the output, the map and where each line's output starts; and the editors' index of
// the lines, edited likewise, must be the index of the text afresh; and the converter's own run,
// which takes the fast path, must write the analysis's output. At the end, every quick fix
// offered must take a warning away and bring no diagnostic, and be the fix that a fresh analysis
// offers. The first byte chooses the options, how often the checkpoints come and how many edits
// follow.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "bench/source_generator.h"
#include "session/analysis.h"
#include "session/cr_joins_index.h"
#include "session/incremental_analysis.h"
#include "session/quick_fix.h"
#include "session/text_position.h"
#include "tests/support/analysis_text.h"

namespace {

constexpr std::array<std::string_view, 24> kFragments = {
    "\n",
    "\r\n",
    "\r",
    "\rX\r\r",
    "10",
    "10\n",
    " ",
    "\"",
    "'",
    "REM ",
    ":",
    "\x1a",
    "DEFINE X = 1\n",
    "DEFINE X\n",
    "DEFINE Y = 2",
    "GOTO 20",
    "X",
    "\n20 PRINT X\n",
    "DEFINE",
    "\xc3\xa9",
    "PRINT\"A",
    "\n\n",
    "GO TO 10\n",
    "DEFINE goto = 7\n",
};

void violated(const std::string& expected, const std::string& got) {
  std::size_t at = 0;
  while (at < expected.size() && at < got.size() && expected[at] == got[at])
    ++at;
  const std::size_t line =
      expected.rfind('\n', at) == std::string::npos ? 0 : expected.rfind('\n', at) + 1;
  std::fprintf(stderr,
               "fuzz_incremental: property violated: the kept analysis is not the fresh one\n"
               "fresh: %.200s\nkept:  %.200s\n",
               expected.substr(line).c_str(), got.substr(line).c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > 4096) return 0;
  const unsigned flags = data[0];
  std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  vorpex::SessionOptions options;
  options.warnings = (flags & 1) != 0;
  options.tokens = (flags & 2) != 0;
  if ((flags & 4) != 0) options.defines = {"X=5", "goto=10"};
  const std::int64_t every = std::array<std::int64_t, 4>{1, 2, 3, 128}[(flags >> 3) & 3];
  const int edits = 1 + static_cast<int>(flags >> 5);

  std::uint64_t seed = 0xcbf29ce484222325ULL;
  for (std::size_t i = 0; i < size; ++i)
    seed = (seed ^ data[i]) * 0x100000001b3ULL;
  vorpex::bench::SplitMix64 random(seed);

  // Without the line map (as the language server keeps it), the map is left out of the check.
  options.line_map = random.below(4) != 0;
  vorpex::IncrementalAnalysis kept(options, every);
  kept.reset(text);
  vorpex::CrJoinsIndex cr_index;
  cr_index.reset(text);
  const auto check = [&] {
    vorpex::Analysis analysis = vorpex::analyze(text, options);
    if (!options.line_map) analysis.map.clear();
    const std::string fresh = vorpex::testing::analysis_text(analysis);
    const std::string incremental =
        vorpex::testing::analysis_text(kept.analysis(), kept.missing_targets());
    if (fresh != incremental) violated(fresh, incremental);
    // The analysis takes every line through the token loop; the converter's own run, without a
    // map or tokens, takes the fast path where it can, and writes the same output.
    // Read to the end, it tells of the CRs that end no line what the server tells from the text.
    vorpex::SessionOptions plain = options;
    plain.tokens = false;
    plain.line_map = false;
    plain.keep_going = true;
    const vorpex::SessionResult converted = vorpex::convert(text, plain);
    if (converted.output != analysis.output) {
      std::fprintf(stderr, "fuzz_incremental: property violated: the fast path's output\n");
      std::abort();
    }
    const std::optional<vorpex::KeptDiagnostic> joins = vorpex::cr_joins_warning(text);
    // The same warning from the CRs kept across the edits.
    const std::optional<vorpex::KeptDiagnostic> kept_joins = cr_index.warning(text);
    if (joins.has_value() != kept_joins.has_value() ||
        (joins && std::tie(joins->line, joins->column, joins->offset, joins->count) !=
                      std::tie(kept_joins->line, kept_joins->column, kept_joins->offset,
                               kept_joins->count))) {
      std::fprintf(stderr, "fuzz_incremental: property violated: the CRs kept across the edits\n");
      std::abort();
    }
    const bool told = !converted.diagnostics.empty() &&
                      converted.diagnostics.back().kind == vorpex::DiagnosticKind::CrJoinsLines;
    if (options.warnings &&
        (told != joins.has_value() ||
         (told &&
          std::tie(joins->line, joins->column, joins->offset, joins->count) !=
              std::tie(converted.diagnostics.back().line, converted.diagnostics.back().column,
                       converted.diagnostics.back().offset, converted.diagnostics.back().count)))) {
      std::fprintf(stderr, "fuzz_incremental: property violated: the CRs that end no line\n");
      std::abort();
    }
  };
  check();
  // Outside the bytes that an update read again, the tokens are those of the text before, at the
  // same place counted from its start (before them) or from its end (after them).
  vorpex::SessionOptions with_tokens = options;
  with_tokens.tokens = true;
  const auto outside = [&](const std::string& of, std::size_t head, std::size_t tail) {
    std::vector<std::tuple<bool, std::size_t, std::size_t, std::size_t, int>> out;
    for (const vorpex::TokenEvent& t : vorpex::analyze(of, with_tokens).tokens) {
      if (t.offset < head || t.offset >= of.size() - tail)
        out.emplace_back(t.offset >= head, t.offset < head ? t.offset : of.size() - t.offset,
                         t.length, t.column, static_cast<int>(t.role));
    }
    return out;
  };
  std::string text_before = text;
  // The editors' index of the lines, kept across the same edits, against one made afresh.
  vorpex::LineIndex index(text);
  vorpex::TextChange change;
  for (int i = 0; i < edits; ++i) {
    // A stretch of the text replaced by a fragment, by a piece of the text, or by nothing.
    const std::size_t from = random.below(text.size() + 1);
    const std::size_t to = from + random.below(std::min<std::size_t>(text.size() - from, 24) + 1);
    std::string insert;
    switch (random.below(3)) {
      case 0:
        insert = kFragments[random.below(kFragments.size())];
        break;
      case 1: {
        const std::size_t at = random.below(text.size() + 1);
        insert = text.substr(at, random.below(40));
        break;
      }
      default:
        break;
    }
    change.add(text.size(), from, to);
    text.replace(from, to - from, insert);
    index.edit(text, from, to - from, insert.size());
    const vorpex::LineIndex fresh(text);
    bool same = index.line_count() == fresh.line_count();
    for (std::size_t line = 0; same && line < fresh.line_count(); ++line)
      same = index.line_start(line) == fresh.line_start(line);
    const std::size_t step = 1 + text.size() / 512;  // bounded work for a long text
    for (std::size_t offset = from % step; same && offset <= text.size(); offset += step)
      same = index.position(offset, vorpex::Encoding::Utf16) ==
             fresh.position(offset, vorpex::Encoding::Utf16);
    if (!same) {
      std::fprintf(stderr, "fuzz_incremental: property violated: an edited line index\n");
      std::abort();
    }
    // Now and then two edits are analysed together, as a burst of changes is.
    if (random.below(4) == 0 && i + 1 < edits) continue;
    kept.update(text, change);
    cr_index.update(text, change);
    change = {};
    check();
    const std::size_t head = kept.read_from();
    const std::size_t tail = text.size() - kept.read_to();
    if (head > kept.read_to() || kept.read_to() > text.size() ||
        outside(text_before, head, tail) != outside(text, head, tail)) {
      std::fprintf(stderr,
                   "fuzz_incremental: property violated: the tokens outside the lines "
                   "read again\n");
      std::abort();
    }
    text_before = text;
  }
  // The tokens of a stretch of lines, read from the kept analysis, are a fresh analysis's.
  {
    const vorpex::Analysis fresh = vorpex::analyze(text, with_tokens);
    const std::size_t from = random.below(text.size() + 1);
    const std::size_t to = std::min(text.size(), from + random.below(400));
    const vorpex::Analysis lines = kept.lines_between(text, from, to);
    const auto inside = [&](const std::vector<vorpex::TokenEvent>& all) {
      std::vector<std::tuple<std::size_t, std::size_t, std::int64_t, int>> out;
      for (const vorpex::TokenEvent& t : all) {
        if (t.offset + t.length > from && t.offset < to)
          out.emplace_back(t.offset, t.length, t.line, static_cast<int>(t.role));
      }
      return out;
    };
    if (inside(lines.tokens) != inside(fresh.tokens)) {
      std::fprintf(stderr, "fuzz_incremental: property violated: the tokens of a stretch\n");
      std::abort();
    }
  }
  // Every quick fix offered takes a warning of its kind away and brings no diagnostic of another.
  const vorpex::Analysis& analysis = kept.analysis();
  const auto counts = [](const vorpex::Analysis& a) {
    std::array<std::size_t, 17> count{};
    for (const vorpex::KeptDiagnostic& d : a.diagnostics)
      count[static_cast<std::size_t>(d.kind)] += d.note ? 0 : 1;
    count[16] = a.missing_targets().size();
    return count;
  };
  const auto before = counts(analysis);
  // The fixes offered from the kept analysis are those offered from a fresh one.
  vorpex::IncrementalAnalysis fresh(options, every);
  fresh.reset(text);
  for (std::size_t i = 0; i < analysis.diagnostics.size() && i < 8; ++i) {
    const std::optional<vorpex::QuickFix> fix = vorpex::quick_fix(kept, text, i);
    const std::optional<vorpex::QuickFix> fresh_fix = vorpex::quick_fix(fresh, text, i);
    if (fix.has_value() != fresh_fix.has_value() ||
        (fix && std::tie(fix->title, fix->from, fix->to, fix->text) !=
                    std::tie(fresh_fix->title, fresh_fix->from, fresh_fix->to, fresh_fix->text))) {
      std::fprintf(stderr, "fuzz_incremental: property violated: a kept analysis's quick fix\n");
      std::abort();
    }
    if (!fix) continue;
    std::string fixed = text;
    fixed.replace(fix->from, fix->to - fix->from, fix->text);
    const auto after = counts(vorpex::analyze(fixed, options));
    const auto kind = static_cast<std::size_t>(analysis.diagnostics[i].kind);
    bool better = after[kind] < before[kind];
    for (std::size_t k = 0; k < after.size(); ++k)
      better = better && after[k] <= before[k];
    if (!better) {
      std::fprintf(stderr, "fuzz_incremental: property violated: a quick fix (%s) is no fix\n",
                   fix->title.c_str());
      std::abort();
    }
  }
  return 0;
}

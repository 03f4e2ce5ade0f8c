// Converts the same bytes through the token loop alone and through the fast path a window of lines
// at a time, with several reader block sizes (which cut the windows at every place) and output
// buffer sizes, with the text reader finding the line ends and the windows classified at each
// vector level that the machine runs, from lines in memory one at a time (the token loop's way),
// and from a run of lines in memory followed by exactly the padding its source promises (an
// allocation of its own, so that a read one byte past it is reported), with and without a line
// map (which sends every line down the writer of lines on their own; without one, lines are
// written together) and with and without predefined constants, and requires the same
// output bytes, console bytes, diagnostics, line map, outcome and line count from all of them. A
// difference aborts, so libFuzzer keeps the input.
//
// The input is converted whole. The bytes after its first end-of-text byte (0x1A), which the
// conversion never reads, set the run: the lowest bit of the first one defines a few constants
// before the conversion (a word value, a number value, a keyword's name), so that substitution is
// covered without the fuzzer having to find the DEFINE syntax first, and the next bit turns
// keep-going on (the diagnostics past a character that stops the conversion); the ones after it
// fill the padding past each line, over and over (a mix of keyword beginnings, quotes and blanks
// when there are none).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/diagnostics.h"
#include "engine/line_processor.h"
#include "engine/simd.h"
#include "fuzz/memory_file.h"
#include "platform/text_reader.h"
#include "session/line_map.h"
#include "tests/support/memory_io.h"

namespace {

using vorpex::platform::TextReader;

void require(bool ok, const char* property) {
  if (ok) return;
  std::fprintf(stderr, "fuzz_differential: property violated: %s\n", property);
  std::abort();
}

using vorpex::fuzzing::input_fd;
using vorpex::fuzzing::store_input;

// Every field of every diagnostic, one line each.
class Diagnostics : public vorpex::DiagnosticObserver {
 public:
  void report(const vorpex::Diagnostic& d) override {
    text += std::to_string(static_cast<int>(d.kind)) + " " + std::to_string(d.line) + ":" +
            std::to_string(d.column) + " " + std::to_string(static_cast<int>(d.found_kind)) + " [" +
            std::string(d.found) + "] " + std::to_string(d.other_line) + " {" +
            std::string(d.other) + "} " + std::to_string(d.count) + "\n";
  }
  bool judges_quotes() const override { return judges; }
  std::string text;
  bool judges = true;
};

struct Conversion {
  std::string output;
  std::string warnings;
  std::string diagnostics;
  std::string map;
  vorpex::Outcome outcome = vorpex::Outcome::Done;
  std::int64_t line_number = 0;

  bool operator==(const Conversion&) const = default;
};

struct Setup {
  bool fast = true;
  std::size_t block = TextReader::kBlockSize;
  std::size_t output = vorpex::OutputBuffer::kDefaultCapacity;
  bool predefine = false;
  bool keep_going = false;
  vorpex::simd::Level level = vorpex::simd::kBest;
  // A line map sends every line through the line observer, and so down the other writer: without
  // one, the lines that need no look of their own are written together (the command line's way).
  bool map = true;
  // Whether the observer judges a quote inside a word; without, the fast path takes such lines.
  bool judge = true;
};

void predefine(vorpex::LineProcessor& processor) {
  processor.define_constant("x", "print");
  processor.define_constant("n", "10");
  processor.define_constant("goto", "0x1f");
  processor.define_constant("a1", "B$");
  processor.define_constant("print", "7");
}

// Runs `processor` over `source` with a diagnostics observer and, with `setup.map`, a line map.
Conversion run(vorpex::LineSource& source, const Setup& setup) {
  vorpex::testing::StringSink output;
  vorpex::testing::StringSink warnings;
  vorpex::testing::StringSink map_rows;
  vorpex::MapRowWriter map_writer(map_rows);
  vorpex::LineMap map(output, map_writer);
  Diagnostics diagnostics;
  diagnostics.judges = setup.judge;
  vorpex::cli::QuoteWarnings quote_warnings(warnings, &diagnostics);
  vorpex::LineProcessor processor(setup.map ? static_cast<vorpex::ByteSink&>(map) : output,
                                  setup.output);
  processor.set_fast_path(setup.fast);
  processor.set_vector_level(setup.level);
  processor.set_diagnostics(&quote_warnings);
  if (setup.map) processor.set_line_observer(&map);
  processor.set_keep_going(setup.keep_going);
  if (setup.predefine) predefine(processor);
  const vorpex::ProcessResult result = processor.process_input(source);
  map_writer.flush();
  return {std::move(output.text),   std::move(warnings.text), std::move(diagnostics.text),
          std::move(map_rows.text), result.outcome,           result.line_number};
}

Conversion convert(std::string_view input, const Setup& setup) {
  store_input(input);
  TextReader reader(input_fd(), setup.block, setup.level);
  Conversion c = run(reader, setup);
  require(!reader.failed(), "reading the memory file failed");
  return c;
}

// `c` without what it tells of CRs that end no line: the sources in memory hand on lines whose CRs
// are gone, and so tell of none.
Conversion without_cr_joins(Conversion c) {
  const std::string kind =
      std::to_string(static_cast<int>(vorpex::DiagnosticKind::CrJoinsLines)) + " ";
  std::string kept;
  for (std::size_t at = 0; at < c.diagnostics.size();) {
    const std::size_t end = c.diagnostics.find('\n', at) + 1;
    if (c.diagnostics.compare(at, kind.size(), kind) != 0) kept.append(c.diagnostics, at, end - at);
    at = end;
  }
  c.diagnostics = std::move(kept);
  return c;
}

// The lines the text reader makes of `input`, each on its own, with no padding past it.
std::vector<std::string> split_lines(std::string_view input) {
  input = input.substr(0, input.find('\x1a'));
  std::vector<std::string> lines;
  while (!input.empty()) {
    const std::size_t lf = input.find('\n');
    std::string line(input.substr(0, lf));
    std::erase(line, '\r');
    lines.push_back(std::move(line));
    input.remove_prefix(lf == std::string_view::npos ? input.size() : lf + 1);
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t end_of_text = input.find('\x1a');
  const std::string_view options =
      end_of_text == std::string_view::npos ? "" : input.substr(end_of_text + 1);
  const bool defined = !options.empty() && (options.front() & 1) != 0;
  const bool keep = !options.empty() && (options.front() & 2) != 0;
  const std::string_view padding = options.size() > 1 ? options.substr(1) : "\" REM 'DEFINE DE";
  constexpr std::size_t kBlock = TextReader::kBlockSize;
  constexpr std::size_t kOutput = vorpex::OutputBuffer::kDefaultCapacity;

  // The reference: the token loop, from lines whose ends the reader finds a byte at a time.
  const Conversion reference =
      convert(input, {false, kBlock, kOutput, defined, keep, vorpex::simd::Level::Portable});
  require(convert(input, {true, kBlock, kOutput, defined, keep}) == reference,
          "the fast path writes what the token loop writes");
  // Small blocks and buffers: lines cross reads, the output is handed on in many pieces, and the
  // output buffer is flushed between the two halves of a line that joins the next.
  const std::size_t seed = std::hash<std::string_view>{}(input);
  const std::size_t block = 1 + seed % (16 + size / 8);
  const std::size_t output = 1 + (seed >> 16) % 64;
  require(convert(input, {true, block, output, defined, keep}) == reference,
          "the fast path with small buffers writes what the token loop writes");
  require(convert(input, {true, 1 + (seed >> 32) % 7, 1 + (seed >> 40) % 7, defined, keep}) ==
              reference,
          "the fast path with tiny buffers writes what the token loop writes");
  // Without a line map, as the command line converts: the same bytes, without the map's rows.
  Conversion unmapped = reference;
  unmapped.map.clear();
  for (const bool predefined : {defined, !defined}) {
    Conversion expected = unmapped;
    if (predefined != defined) {
      expected = convert(
          input, {false, kBlock, kOutput, predefined, keep, vorpex::simd::Level::Portable, false});
    }
    Setup setup{true, kBlock, kOutput, predefined, keep};
    setup.map = false;
    require(convert(input, setup) == expected, "the fast path without a map writes the same");
    setup.block = block;
    setup.output = output;
    require(convert(input, setup) == expected,
            "the fast path without a map in small buffers writes the same");
  }
  // An observer that judges no quote: the fast path reads a line with a quote inside a word as the
  // token loop does, with and without a map, in small buffers, at every vector level.
  Setup unjudged{false, kBlock, kOutput, defined, keep, vorpex::simd::Level::Portable};
  unjudged.judge = false;
  const Conversion unjudged_reference = convert(input, unjudged);
  require(unjudged_reference.output == reference.output &&
              unjudged_reference.warnings == reference.warnings,
          "whether quotes are judged changes neither the output nor the console's words");
  unjudged.fast = true;
  for (const vorpex::simd::Level level : vorpex::simd::kLevels) {
    if (!vorpex::simd::runs(level)) continue;
    unjudged.level = level;
    unjudged.map = true;
    unjudged.block = kBlock;
    unjudged.output = kOutput;
    require(convert(input, unjudged) == unjudged_reference,
            "the fast path reads quotes inside words as the token loop does");
    Conversion expected = unjudged_reference;
    expected.map.clear();
    unjudged.map = false;
    unjudged.block = block;
    unjudged.output = output;
    require(convert(input, unjudged) == expected,
            "the fast path reads quotes inside words as the token loop does, without a map");
  }
  // The line ends found at each narrower level, with whole blocks and with small ones.
  for (const vorpex::simd::Level level : vorpex::simd::kLevels) {
    if (level == vorpex::simd::kBest || !vorpex::simd::runs(level)) continue;
    require(convert(input, {true, kBlock, kOutput, defined, keep, level}) == reference,
            "the text reader at a narrower vector level reads the same lines");
    require(convert(input, {true, block, output, defined, keep, level}) == reference,
            "the text reader at a narrower vector level reads the same lines in small blocks");
    Setup setup{true, block, output, defined, keep, level};
    setup.map = false;
    require(convert(input, setup) == unmapped,
            "the lines written together at a narrower vector level are the same");
  }
  const std::vector<std::string> lines = split_lines(input);
  vorpex::testing::VectorLineSource copied(lines);
  const Conversion in_memory = without_cr_joins(reference);
  require(run(copied, {true, kBlock, 7, defined, keep}) == in_memory,
          "lines one at a time write what the token loop writes");
  vorpex::testing::PaddedLineSource padded(lines, std::string(padding));
  require(run(padded, {true, kBlock, kOutput, defined, keep}) == in_memory,
          "the fast path on a padded run of lines writes what the token loop writes");
  return 0;
}

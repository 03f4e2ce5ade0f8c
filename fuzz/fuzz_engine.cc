// Converts arbitrary bytes as a whole input file: the bytes go through the real text-mode reader
// (from a memory file) into a fresh line processor, and every conversion is checked against
// properties that hold for any input. A broken property aborts, so libFuzzer keeps the input.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>

#include "cli/diagnostics.h"
#include "engine/line_processor.h"
#include "fuzz/memory_file.h"
#include "platform/text_reader.h"
#include "session/line_map.h"
#include "tests/support/memory_io.h"

namespace {

using vorpex::Outcome;
using vorpex::platform::TextReader;

constexpr std::string_view kQuoteWarning = "\r\nUNBALANCED QUOTE!\r\n";

[[noreturn]] void violated(const char* property) {
  std::fprintf(stderr, "fuzz_engine: property violated: %s\n", property);
  std::abort();
}

void require(bool ok, const char* property) {
  if (!ok) violated(property);
}

using vorpex::fuzzing::input_fd;
using vorpex::fuzzing::store_input;

// Keeps each diagnostic as "KIND LINE:COLUMN FOUND", checking the place as it comes.
class Diagnostics : public vorpex::DiagnosticObserver {
 public:
  void report(const vorpex::Diagnostic& d) override {
    require(d.line >= 1 && d.column >= 1, "a diagnostic has a line and a column");
    if (d.kind == vorpex::DiagnosticKind::CrJoinsLines) {
      // Told once, after the rest, of the first CR that ends no line.
      require(cr_joins.empty() && d.count >= 1, "CRs that end no line are told once, counted");
      cr_joins =
          std::to_string(d.line) + ":" + std::to_string(d.column) + " " + std::to_string(d.count);
      return;
    }
    require(d.end_column >= d.column, "a diagnostic's extent ends no earlier than it begins");
    // A joined number's note may point back at the apostrophe of the line it joined.
    const bool earlier = d.note && d.kind == vorpex::DiagnosticKind::NumberJoined;
    require(d.line >= last_line_ || earlier, "diagnostics come in input order");
    require(!d.note || ((d.line == last_line_ || earlier) && d.related_column >= 1),
            "a note follows a diagnostic of its line and names the place of its cause");
    if (!earlier) last_line_ = d.line;
    text += std::to_string(static_cast<int>(d.kind)) + (d.note ? " note " : " ") +
            std::to_string(d.line) + ":" + std::to_string(d.column) + "-" +
            std::to_string(d.end_column) + " " + std::string(d.found) + "\n";
    if (d.kind == vorpex::DiagnosticKind::UnclosedString) ++unclosed;
    if (!d.note) last_kind = d.kind;
  }
  std::string text;
  std::string cr_joins;
  std::size_t unclosed = 0;
  vorpex::DiagnosticKind last_kind = vorpex::DiagnosticKind::RemJoinsNextLine;

 private:
  std::int64_t last_line_ = 0;
};

struct Conversion {
  std::string output;
  std::string warnings;
  Outcome outcome = Outcome::Done;
  std::int64_t line_number = 0;
  std::size_t reader_capacity = 0;
  std::string diagnostics;
  std::string cr_joins;  // what was told of CRs that end no line
  std::size_t unclosed = 0;
  vorpex::DiagnosticKind last_kind = vorpex::DiagnosticKind::RemJoinsNextLine;
  std::string map;  // the line map, when asked for

  // The same but for what is told of CRs that end no line.
  bool same_conversion(const Conversion& other) const {
    return output == other.output && warnings == other.warnings && outcome == other.outcome &&
           diagnostics == other.diagnostics;
  }
  bool same_bytes(const Conversion& other) const {
    return same_conversion(other) && cr_joins == other.cr_joins;
  }
  bool same_result(const Conversion& other) const {
    return same_bytes(other) && line_number == other.line_number;
  }
};

// How the bytes are moved: the reader's block size and the output buffer's size.
struct Buffers {
  std::size_t block = TextReader::kBlockSize;
  std::size_t output = vorpex::OutputBuffer::kDefaultCapacity;
};

Conversion convert(std::string_view input, Buffers buffers, bool refuse_output = false,
                   bool with_map = false, bool keep_going = false) {
  store_input(input);
  vorpex::testing::StringSink output;
  vorpex::testing::StringSink warnings;
  vorpex::testing::StringSink map_rows;
  vorpex::MapRowWriter map_writer(map_rows);
  vorpex::LineMap map(output, map_writer);
  Diagnostics diagnostics;
  output.refuse = refuse_output;
  TextReader reader(input_fd(), buffers.block);
  vorpex::cli::QuoteWarnings quote_warnings(warnings, &diagnostics);
  vorpex::LineProcessor processor(with_map ? static_cast<vorpex::ByteSink&>(map) : output,
                                  buffers.output);
  processor.set_diagnostics(&quote_warnings);
  if (with_map) processor.set_line_observer(&map);
  processor.set_keep_going(keep_going);
  const vorpex::ProcessResult result = processor.process_input(reader);
  require(!reader.failed(), "reading the memory file failed");
  map_writer.flush();
  return {std::move(output.text),
          std::move(warnings.text),
          result.outcome,
          result.line_number,
          reader.buffer_capacity(),
          std::move(diagnostics.text),
          std::move(diagnostics.cr_joins),
          diagnostics.unclosed,
          diagnostics.last_kind,
          std::move(map_rows.text)};
}

// One row per output line, numbered from 1, each naming an input line no earlier than the row
// before it and no later than the last line read.
void check_map(const Conversion& c) {
  const std::string& out = c.output;
  const auto lines = static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n')) +
                     (!out.empty() && out.back() != '\n' ? 1 : 0);
  std::size_t rows = 0;
  std::int64_t previous = 1;
  for (std::size_t start = 0; start < c.map.size();) {
    const std::size_t end = c.map.find('\n', start);
    require(end != std::string::npos, "every row of the map ends in LF");
    const std::string row = c.map.substr(start, end - start);
    const std::size_t tab = row.find('\t');
    require(tab != std::string::npos && row.substr(0, tab) == std::to_string(++rows),
            "map rows are numbered from 1, in order");
    const std::int64_t line = std::stoll(row.substr(tab + 1));
    require(line >= previous && line <= c.line_number, "map rows name input lines in order");
    previous = line;
    start = end + 1;
  }
  require(rows == lines, "the map has one row per output line");
}

// The input as the text-mode reader sees it: nothing from the first 0x1A on.
std::string_view effective_text(std::string_view input) {
  return input.substr(0, input.find('\x1a'));
}

// The longest run of bytes without LF, CR bytes included: the most the reader ever holds of one
// line.
std::size_t longest_line(std::string_view text) {
  std::size_t longest = 0;
  std::size_t start = 0;
  for (;;) {
    const std::size_t lf = text.find('\n', start);
    const std::size_t end = lf == std::string_view::npos ? text.size() : lf;
    longest = std::max(longest, end - start);
    if (lf == std::string_view::npos) return longest;
    start = lf + 1;
  }
}

// The reader grows its buffer only while a line does not fit: doubling, or one block past the
// line. So it never holds more than about twice the longest line plus one block.
void check_memory(const Conversion& c, std::string_view text, std::size_t block_size) {
  require(c.reader_capacity <= 2 * longest_line(text) + block_size + 3,
          "the reader holds more than the longest line needs");
}

void check_output(const Conversion& c, std::string_view input) {
  require(c.outcome == Outcome::Done || c.outcome == Outcome::UnknownToken,
          "a memory sink never fails, so the run ends done or on an unknown token");
  const std::string& out = c.output;
  for (std::size_t i = 0; i < out.size(); ++i) {
    switch (out[i]) {
      case '\n':
        require(i > 0 && out[i - 1] == '\r', "every LF in the output follows a CR");
        break;
      case '\r':
        require(i + 1 < out.size() && out[i + 1] == '\n',
                "every CR in the output comes before an LF");
        break;
      case '\0':
        violated("a NUL ends a line, so it never reaches the output");
      case '\x1a':
        violated("0x1A ends the input, so it never reaches the output");
      default:
        break;
    }
  }
  const std::string_view text = effective_text(input);
  const auto lines = static_cast<std::int64_t>(std::count(text.begin(), text.end(), '\n')) + 1;
  require(c.line_number >= 0 && c.line_number <= lines, "the line number counts the input's lines");
  if (c.outcome == Outcome::UnknownToken) {
    const std::string message =
        "\r\nUNKNOWN ERROR! LINE: " + std::to_string(c.line_number) + "\r\n";
    require(c.line_number > 0 && out.size() >= message.size() &&
                out.compare(out.size() - message.size(), message.size(), message) == 0,
            "a stopped run ends its output with the message for the line it stopped on");
  }
  require(c.unclosed * kQuoteWarning.size() == c.warnings.size(),
          "every unbalanced-quote message has its diagnostic");
  require((c.outcome == Outcome::UnknownToken) ==
              (c.last_kind == vorpex::DiagnosticKind::UnknownCharacter),
          "a run stops exactly after a diagnostic of a character that begins no token");
  const auto quotes = static_cast<std::size_t>(std::count(text.begin(), text.end(), '"'));
  require(c.warnings.size() % kQuoteWarning.size() == 0 &&
              c.warnings.size() / kQuoteWarning.size() <= quotes,
          "warnings are whole unbalanced-quote messages, at most one per quote");
  for (std::size_t i = 0; i < c.warnings.size(); i += kQuoteWarning.size()) {
    require(std::string_view(c.warnings).substr(i, kQuoteWarning.size()) == kQuoteWarning,
            "warnings are whole unbalanced-quote messages");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string_view text = effective_text(input);

  // Once as the program runs.
  const Conversion first = convert(input, Buffers{});
  check_output(first, input);
  check_memory(first, text, TextReader::kBlockSize);

  // The rest with small buffers: lines cross block boundaries, the reader grows, the output is
  // handed on in many pieces. None of that may change the result. Blocks stay around a tenth of
  // the input at most, so a long input is not read a byte at a time.
  const std::size_t seed = std::hash<std::string_view>{}(input);
  const Buffers small{1 + seed % (16 + size / 8), 1 + (seed >> 16) % 64};
  const Conversion blocked = convert(input, small);
  require(blocked.same_result(first), "the result does not depend on the buffer sizes");
  check_memory(blocked, text, small.block);
  require(convert(input, small).same_result(blocked),
          "converting the same input twice gives the same result");

  // The text-mode rules: nothing after 0x1A counts, and every CR is dropped wherever it stands.
  if (text.size() != input.size()) {
    require(convert(text, small).same_result(first),
            "the bytes after 0x1A do not change the result");
  }
  if (text.find('\r') != std::string_view::npos) {
    std::string without_cr(text);
    without_cr.erase(std::remove(without_cr.begin(), without_cr.end(), '\r'), without_cr.end());
    // A last line of CR bytes alone still counts as an (empty) line, which shows in no output.
    const Conversion dropped = convert(without_cr, small);
    require(dropped.same_conversion(first) && dropped.cr_joins.empty(),
            "CR bytes in the input do not change the result");
  }

  // With a line map: the same conversion, and a map that matches the output line by line.
  const Conversion mapped = convert(input, small, false, true);
  require(mapped.same_result(first), "writing a line map does not change the conversion");
  check_map(mapped);

  // Going on past a character that begins no token: the same output, outcome and map, and the
  // same diagnostics up to the stop, followed by those of the rest of the input.
  const Conversion going = convert(input, small, false, true, true);
  require(going.output == mapped.output && going.warnings == mapped.warnings &&
              going.outcome == mapped.outcome && going.map == mapped.map,
          "keep-going leaves the output, the console, the outcome and the map as they were");
  require(going.diagnostics.starts_with(first.diagnostics),
          "keep-going reports what the run reports, and more only after it");
  require(first.cr_joins.empty() || going.cr_joins == first.cr_joins,
          "keep-going tells of the CRs that end no line as a whole run does");
  if (first.outcome == Outcome::Done) {
    require(going.diagnostics == first.diagnostics, "keep-going adds nothing to a complete run");
  }

  // An output that refuses every byte: the run reports the failure exactly when there was
  // something to write.
  const Conversion refused = convert(input, small, true);
  require(refused.outcome == (first.output.empty() ? first.outcome : Outcome::WriteFailed),
          "a refused output is reported as a failed write");
  return 0;
}

// The session as each front end uses it, on arbitrary bytes: streamed from the real text reader
// (the command line) and converted from a buffer (the language server and the page) must give the
// same output, outcome, diagnostics and line map; every diagnostic's place in the buffer must be a
// valid range in UTF-8 and in UTF-16. The first byte chooses the options.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/memory_file.h"
#include "platform/text_reader.h"
#include "session/session.h"
#include "session/text_position.h"
#include "tests/support/memory_io.h"

namespace {

void require(bool ok, const char* property) {
  if (ok) return;
  std::fprintf(stderr, "fuzz_session: property violated: %s\n", property);
  std::abort();
}

std::string key(const vorpex::Diagnostic& d) {
  return std::to_string(static_cast<int>(d.kind)) + (d.note ? " note " : " ") +
         std::to_string(d.line) + ":" + std::to_string(d.column) + "-" +
         std::to_string(d.end_column) + "/" + std::to_string(d.related_column) + " " +
         std::string(d.found) + "|" + std::string(d.other) + " " + std::to_string(d.count) + "\n";
}

class Keys : public vorpex::DiagnosticObserver {
 public:
  void report(const vorpex::Diagnostic& d) override { text += key(d); }
  std::string text;
};

class Rows : public vorpex::LineMapRows {
 public:
  void output_line(std::int64_t, std::int64_t input_line) override { lines.push_back(input_line); }
  std::vector<std::int64_t> lines;
};

void check_range(const vorpex::LineIndex& index, const vorpex::KeptDiagnostic& d) {
  require(d.offset <= d.end_offset && d.end_offset <= index.text().size(),
          "a diagnostic's place lies in the source");
  for (const vorpex::Encoding encoding : {vorpex::Encoding::Utf8, vorpex::Encoding::Utf16}) {
    const vorpex::TextRange r = index.range(d.offset, d.end_offset, encoding);
    const std::string_view line = index.line_text(static_cast<std::size_t>(r.start.line));
    require(r.start.line == r.end.line && r.start.character <= r.end.character,
            "a range stays on its line and ends no earlier than it starts");
    require(r.end.character <= vorpex::count_characters(line, encoding),
            "a range ends within its line");
    const std::size_t start = index.offset(r.start, encoding).value_or(SIZE_MAX);
    const std::size_t end = index.offset(r.end, encoding).value_or(SIZE_MAX);
    require(start <= d.offset && start <= end, "a range's ends map back into the source");
    require(index.position(start, encoding) == r.start && index.position(end, encoding) == r.end,
            "a range's ends are whole characters");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const unsigned flags = data[0];
  const std::string_view source(reinterpret_cast<const char*>(data) + 1, size - 1);
  vorpex::SessionOptions options;
  options.keep_going = (flags & 1) != 0;
  options.warnings = (flags & 2) != 0;
  options.line_map = true;
  if ((flags & 4) != 0) options.defines = {"X=5", "goto=10"};

  // The command line's way: streamed from the file reader.
  vorpex::fuzzing::store_input(source);
  vorpex::platform::TextReader reader(vorpex::fuzzing::input_fd());
  vorpex::testing::StringSink output;
  Keys streamed;
  Rows rows;
  vorpex::Session session(options, output, &streamed, &rows);
  const vorpex::ProcessResult run = session.run(reader);
  require(!reader.failed(), "reading the memory file failed");

  // Without a map, as the command line converts by default: the lines that need no look of their
  // own are written together, by the other writer.
  vorpex::fuzzing::store_input(source);
  vorpex::platform::TextReader unmapped_reader(vorpex::fuzzing::input_fd());
  vorpex::testing::StringSink unmapped_output;
  Keys unmapped;
  vorpex::Session unmapped_session(options, unmapped_output, &unmapped);
  const vorpex::ProcessResult unmapped_run = unmapped_session.run(unmapped_reader);
  require(unmapped_output.text == output.text && unmapped_run.outcome == run.outcome &&
              unmapped.text == streamed.text,
          "the same conversion without a map");

  // The server's and the page's way: the buffer.
  const vorpex::SessionResult result = vorpex::convert(source, options);
  require(result.output == output.text, "the same output");
  require(result.outcome == run.outcome &&
              result.status == (run.outcome == vorpex::Outcome::Done ? 0 : 1),
          "the same outcome");
  require(result.errors == session.errors() && result.warnings == session.warnings(),
          "the same counts");
  std::string kept;
  const vorpex::LineIndex index(source);
  for (const vorpex::KeptDiagnostic& d : result.diagnostics) {
    kept += key(d.view());
    check_range(index, d);
  }
  require(kept == streamed.text, "the same diagnostics");
  require(result.map.size() == rows.lines.size(), "the same map");
  for (std::size_t i = 0; i < rows.lines.size(); ++i)
    require(result.map[i].first == rows.lines[i] && result.map[i].last >= result.map[i].first,
            "the same map");
  return 0;
}

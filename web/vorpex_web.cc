// The engine for JavaScript: a plain C interface that the module vorpex.js calls. One conversion
// at a time; its results stay in this file's buffers until the next one, and JavaScript reads
// them in place through the accessor functions.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/byte_sink.h"
#include "engine/diagnostic.h"
#include "engine/diagnostic_text.h"
#include "engine/line_processor.h"
#include "engine/line_source.h"
#include "engine/memory_line_source.h"

namespace vorpex::web {

namespace {

// Keeps the output, the input line of each output line's first byte (the line map), and that of
// each output line's last byte, its LF: the lines between the two were joined into it.
class Recorder : public ByteSink, public LineObserver {
 public:
  Recorder(std::string& output, std::vector<std::int32_t>& map, std::vector<std::int32_t>& ends)
      : output_(output), map_(map), ends_(ends) {}

  bool write(std::string_view bytes) override {
    std::size_t from = 0;
    while (from < bytes.size()) {
      if (at_line_start_) {
        map_.push_back(static_cast<std::int32_t>(input_line_));
        at_line_start_ = false;
      }
      const void* lf = std::memchr(bytes.data() + from, '\n', bytes.size() - from);
      if (lf == nullptr) break;
      from = static_cast<std::size_t>(static_cast<const char*>(lf) - bytes.data()) + 1;
      ends_.push_back(static_cast<std::int32_t>(input_line_));
      at_line_start_ = true;
    }
    output_.append(bytes);
    return true;
  }
  void line_started(std::int64_t line_number) override { input_line_ = line_number; }

 private:
  std::string& output_;
  std::vector<std::int32_t>& map_;
  std::vector<std::int32_t>& ends_;
  std::int64_t input_line_ = 0;
  bool at_line_start_ = true;
};

void append_json_string(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      out += "\\u00";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  out += '"';
}

void append_size(std::string& out, std::size_t number) {
  append_number(out, static_cast<std::int64_t>(number));
}

// Gathers the diagnostics as a JSON array, each note inside the diagnostic before it, with the
// same choice as the command line's: warnings and their notes only when wanted.
class DiagnosticJson : public DiagnosticObserver {
 public:
  DiagnosticJson(std::string& json, bool warnings) : json_(json), warnings_(warnings) {
    json_ = "[";
  }

  void report(const Diagnostic& d) override {
    const bool error = is_error(d.kind);
    if (d.note) {
      if (!shown_) return;
      // Reopens the parent's notes array, which close() ends.
      json_.resize(json_.size() - 2);
      if (json_.back() != '[') json_ += ',';
      append_entry(d, "note");
      json_ += "]}";
      return;
    }
    shown_ = error || warnings_;
    if (!shown_) return;
    if (json_.size() > 1) json_ += ',';
    append_entry(d, error ? "error" : "warning");
    json_.resize(json_.size() - 1);
    json_ += ",\"notes\":[]}";
  }

  void close() { json_ += ']'; }

 private:
  void append_entry(const Diagnostic& d, std::string_view severity) {
    json_ += "{\"line\":";
    append_number(json_, d.line);
    json_ += ",\"column\":";
    append_size(json_, d.column);
    json_ += ",\"endColumn\":";
    append_size(json_, d.end_column);
    json_ += ",\"severity\":\"";
    json_ += severity;
    json_ += "\",\"code\":\"";
    json_ += diagnostic_code(d.kind);
    json_ += "\",\"message\":";
    message_.clear();
    describe(message_, d);
    append_json_string(json_, message_);
    if (d.related_column != 0) {
      json_ += ",\"relatedColumn\":";
      append_size(json_, d.related_column);
    }
    json_ += '}';
  }

  std::string& json_;
  bool warnings_;
  bool shown_ = false;
  std::string message_;
};

struct Results {
  std::string output;
  std::vector<std::int32_t> map;
  std::vector<std::int32_t> map_ends;
  std::string diagnostics;
  std::string error;
};

Results results;

constexpr int kWarnings = 1;
constexpr int kKeepGoing = 2;

// The constants of `defines`, "NAME\0VALUE\0" pairs.
std::vector<std::pair<std::string_view, std::string_view>> definitions_of(
    std::string_view defines) {
  std::vector<std::pair<std::string_view, std::string_view>> pairs;
  while (!defines.empty()) {
    const std::size_t name_end = defines.find('\0');
    if (name_end == std::string_view::npos) break;
    const std::string_view name = defines.substr(0, name_end);
    defines.remove_prefix(name_end + 1);
    const std::size_t value_end = std::min(defines.find('\0'), defines.size());
    pairs.emplace_back(name, defines.substr(0, value_end));
    defines.remove_prefix(std::min(value_end + 1, defines.size()));
  }
  return pairs;
}

// Checks every constant before any is defined, as the command line does; on the first that
// cannot be defined, says why in results.error and returns false.
bool check_definitions(const std::vector<std::pair<std::string_view, std::string_view>>& pairs) {
  DefinitionCheck check;
  for (const auto& [name, value] : pairs) {
    const DefineResult result = check.add(parse_definition(name, value));
    if (result == DefineResult::Defined) continue;
    std::string definition(name);
    definition += '=';
    definition += value;
    results.error =
        "cannot define " + quoted(definition) + ": " + std::string(define_refusal(result));
    return false;
  }
  return true;
}

}  // namespace

}  // namespace vorpex::web

extern "C" {

// Converts `source` (its `size` bytes)
// with the constants of `defines` and the `flags` (1: warnings, 2: keep going), and returns the
// status that vorpex would exit with: 0 when the whole input was converted, 1 when a character
// that begins no token stopped the conversion, or a constant could not be defined (no output
// then, and the reason in vorpex_error).
int vorpex_convert(const char* source, std::size_t size, const char* defines,
                   std::size_t defines_size, int flags) {
  using namespace vorpex;
  using namespace vorpex::web;
  results.output.clear();
  results.map.clear();
  results.map_ends.clear();
  results.error.clear();
  results.diagnostics = "[]";
  // The constants are checked before anything is converted, as on the command line.
  const auto definitions = definitions_of({defines, defines_size});
  if (!check_definitions(definitions)) return 1;
  // The text as the file reader gives it, with readable padding past it so that the fast path
  // reads the lines in place.
  std::string text_mode = to_text_mode({source, size});
  const std::size_t text_size = text_mode.size();
  text_mode.append(kLinePadding + 1, '\0');
  BufferLineSource input({text_mode.data(), text_size}, kLinePadding);
  Recorder recorder(results.output, results.map, results.map_ends);
  LineProcessor processor(recorder);
  for (const auto& [name, value] : definitions)
    processor.define_constant(name, value);
  DiagnosticJson diagnostics(results.diagnostics, (flags & kWarnings) != 0);
  processor.set_diagnostics(&diagnostics);
  processor.set_keep_going((flags & kKeepGoing) != 0);
  processor.set_line_observer(&recorder);
  const ProcessResult result = processor.process_input(input);
  diagnostics.close();
  return result.outcome == Outcome::Done ? 0 : 1;
}

const char* vorpex_output() {
  return vorpex::web::results.output.data();
}
std::size_t vorpex_output_size() {
  return vorpex::web::results.output.size();
}
const std::int32_t* vorpex_map() {
  return vorpex::web::results.map.data();
}
std::size_t vorpex_map_size() {
  return vorpex::web::results.map.size();
}
const std::int32_t* vorpex_map_ends() {
  return vorpex::web::results.map_ends.data();
}
std::size_t vorpex_map_ends_size() {
  return vorpex::web::results.map_ends.size();
}
const char* vorpex_diagnostics() {
  return vorpex::web::results.diagnostics.data();
}
std::size_t vorpex_diagnostics_size() {
  return vorpex::web::results.diagnostics.size();
}
const char* vorpex_error() {
  return vorpex::web::results.error.data();
}
std::size_t vorpex_error_size() {
  return vorpex::web::results.error.size();
}

}  // extern "C"

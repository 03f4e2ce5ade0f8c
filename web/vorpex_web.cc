// The engine for JavaScript: a plain C interface that the module vorpex.js calls. One conversion
// at a time; its results stay in this file's buffers until the next one, and JavaScript reads
// them in place through the accessor functions.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/diagnostic_text.h"
#include "session/json.h"
#include "session/session.h"
#include "session/text_position.h"

namespace vorpex::web {

namespace {

void append_size(std::string& out, std::size_t number) {
  append_json_integer(out, static_cast<std::int64_t>(number));
}

// The diagnostics as a JSON array, each note inside the diagnostic before it. Places are given as
// the command line gives them (line, byte column) and as the editor counts them: `from` and `to`
// in UTF-16 units from the start of the source.
std::string diagnostics_json(const SessionResult& result, std::string_view source) {
  std::string json = "[";
  std::string message;
  Utf16Offsets utf16(source);
  const auto append_entry = [&](const KeptDiagnostic& d, std::string_view severity) {
    json += "{\"line\":";
    append_json_integer(json, d.line);
    json += ",\"column\":";
    append_size(json, d.column);
    json += ",\"endColumn\":";
    append_size(json, d.end_column);
    json += ",\"from\":";
    append_json_integer(json, utf16.at(d.offset));
    json += ",\"to\":";
    append_json_integer(json, utf16.at(d.end_offset));
    json += ",\"severity\":\"";
    json += severity;
    json += "\",\"code\":\"";
    json += diagnostic_code(d.kind);
    json += "\",\"message\":";
    message.clear();
    describe(message, d.view());
    append_json_string(json, message);
    if (d.related_column != 0) {
      json += ",\"relatedColumn\":";
      append_size(json, d.related_column);
    }
  };
  bool open = false;  // a diagnostic waits for its notes
  for (const KeptDiagnostic& d : result.diagnostics) {
    if (d.note) {
      if (!open) continue;
      json += json.back() == '[' ? "" : ",";
      append_entry(d, "note");
      json += '}';
      continue;
    }
    if (open) json += "]}";
    if (json.size() > 1) json += ',';
    append_entry(d, d.is_error() ? "error" : "warning");
    json += ",\"notes\":[";
    open = true;
  }
  if (open) json += "]}";
  json += ']';
  return json;
}

struct Results {
  std::string output;
  std::vector<std::int32_t> map;
  std::vector<std::int32_t> map_ends;
  std::string diagnostics;
  std::string error;
  std::string refused;  // with kLeaveOutRefused: the constants left out, as JSON
};

Results results;

constexpr int kWarnings = 1;
constexpr int kKeepGoing = 2;
constexpr int kLeaveOutRefused = 4;

// The constants that can be defined (accepted_constants), and the ones left out as
// [{"index":I,"message":"..."}] (I counts from 0 in `texts`).
std::vector<std::string> keep_accepted(const std::vector<std::string>& texts,
                                       std::string& refused) {
  std::vector<ConstantRefusal> left_out;
  std::vector<std::string> kept = accepted_constants(texts, left_out);
  refused = "[";
  for (const ConstantRefusal& r : left_out) {
    if (refused.size() > 1) refused += ',';
    refused += "{\"index\":";
    append_size(refused, r.index);
    refused += ",\"message\":";
    append_json_string(refused, r.message);
    refused += '}';
  }
  refused += ']';
  return kept;
}

// The constants of `defines`: NAME=VALUE texts, each ended by a NUL.
std::vector<std::string> definitions_of(std::string_view defines) {
  std::vector<std::string> texts;
  while (!defines.empty()) {
    const std::size_t end = std::min(defines.find('\0'), defines.size());
    texts.emplace_back(defines.substr(0, end));
    defines.remove_prefix(std::min(end + 1, defines.size()));
  }
  return texts;
}

}  // namespace

}  // namespace vorpex::web

extern "C" {

// Converts `source` (its `size` bytes, exactly as a file would hold them) with the constants of
// `defines` (NAME=VALUE texts, each ended by a NUL) and the `flags` (1: warnings, 2: keep going),
// (4: leave out each refused constant and use the others, naming those left out in
// vorpex_refused), and returns the status that vorpex would exit with: 0 when the whole input was
// converted, 1 when a character that begins no token stopped the conversion, or a constant could
// not be defined (no output then, and the reason in vorpex_error).
int vorpex_convert(const char* source, std::size_t size, const char* defines,
                   std::size_t defines_size, int flags) {
  using namespace vorpex;
  using namespace vorpex::web;
  SessionOptions options;
  options.defines = definitions_of({defines, defines_size});
  results.refused.clear();
  if ((flags & kLeaveOutRefused) != 0)
    options.defines = keep_accepted(options.defines, results.refused);
  options.warnings = (flags & kWarnings) != 0;
  options.keep_going = (flags & kKeepGoing) != 0;
  options.line_map = true;
  const std::string_view text(source, size);
  SessionResult result = convert(text, options);
  results.output = std::move(result.output);
  results.error = std::move(result.refusal);
  results.map.clear();
  results.map_ends.clear();
  for (const MapRow& row : result.map) {
    results.map.push_back(static_cast<std::int32_t>(row.first));
    results.map_ends.push_back(static_cast<std::int32_t>(row.last));
  }
  results.diagnostics = diagnostics_json(result, text);
  return result.status;
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

const char* vorpex_refused() {
  return vorpex::web::results.refused.data();
}
std::size_t vorpex_refused_size() {
  return vorpex::web::results.refused.size();
}

}  // extern "C"

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
#include "session/analysis.h"
#include "session/json.h"
#include "session/renumber.h"
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
  std::string refused;     // with kLeaveOutRefused: the constants left out, as JSON
  std::string renumbered;  // the answer of vorpex_renumber, as JSON
};

Results results;

constexpr int kWarnings = 1;
constexpr int kKeepGoing = 2;
constexpr int kLeaveOutRefused = 4;
constexpr int kPastComputed = 8;

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

// Renumbers `source` (its `size` bytes) or moves some of its lines, converting it with the
// constants of `defines` and `flags` as vorpex_convert does (1: warnings; 8: go on past computed
// jumps). The lines are those whose numbers begin the editor's lines `first_line` to `last_line`
// (from 1; a line ends at LF, CR LF or a CR alone), each with the lines without a number under it;
// 0 and 0: the whole program. `move` 0: renumber them from `start` by `step`; 1: move them to stand
// after line `after`. `largest` 0: no largest
// line number. The answer, in vorpex_renumbered, is JSON: {"refusal":"...","refusalLine":N} or
// {"edits":[{"from":F,"to":T,"text":"..."}],
// "warnings":[{"code":"...","message":"...","line":L,"column":C,"from":F,"to":T}],"count":N}
// with every place in UTF-16 units from the source's start, as the editor counts. Numbers come
// as doubles, as JavaScript holds them; one that is no whole number from 0 to 2^53 counts as 0.
void vorpex_renumber(const char* source, std::size_t size, const char* defines,
                     std::size_t defines_size, int flags, int move, double first_line,
                     double last_line, double start, double step, double after, double largest) {
  using namespace vorpex;
  using namespace vorpex::web;
  const std::string_view text(source, size);
  SessionOptions options;
  options.defines = definitions_of({defines, defines_size});
  options.warnings = (flags & kWarnings) != 0;
  const auto whole = [](double n) -> std::uint64_t {
    return n >= 0 && n <= 9007199254740992.0 &&
                   n == static_cast<double>(static_cast<std::uint64_t>(n))
               ? static_cast<std::uint64_t>(n)
               : 0;
  };
  RenumberRequest request;
  request.kind = move != 0 ? RenumberRequest::Kind::Move : RenumberRequest::Kind::Renumber;
  request.start = whole(start);
  request.step = whole(step);
  request.after = whole(after);
  if (largest >= 1) request.largest = whole(largest);
  request.past_computed = (flags & kPastComputed) != 0;
  std::string& json = results.renumbered;
  json.clear();
  const auto refuse = [&](const std::string& message, std::int64_t line, bool computed = false) {
    json = "{\"refusal\":";
    append_json_string(json, message);
    json += ",\"refusalLine\":";
    append_json_integer(json, line);
    if (computed) json += ",\"computed\":true";
    json += '}';
  };
  const std::string verb = move != 0 ? "cannot move lines: " : "cannot renumber: ";
  // The constants are checked before the selection is read with them.
  if (const std::string refusal = refuse_constants(options.defines); !refusal.empty()) {
    refuse(verb + refusal, 0);
    return;
  }
  if (first_line >= 1) {
    // The editor's lines, from 1, as the page's editor counts them (LF, CR LF or a CR alone).
    const std::uint64_t first = whole(first_line);
    const std::uint64_t last = std::max(whole(last_line), first);
    const LineIndex lines(text);
    const auto start_of = [&](std::uint64_t line) {
      if (line == 0) return std::size_t{0};
      return line - 1 < lines.line_count() ? lines.line_start(static_cast<std::size_t>(line - 1))
                                           : text.size();
    };
    if (const std::string refusal =
            select_lines(analyze(text, options), start_of(first), start_of(last + 1), request);
        !refusal.empty()) {
      refuse(refusal, static_cast<std::int64_t>(first));
      return;
    }
  }
  const RenumberResult result = renumber(text, request, options);
  if (result.refused()) {
    refuse(result.refusal, result.refusal_line, result.refused_computed);
    return;
  }
  Utf16Offsets utf16(text);
  json = "{\"edits\":[";
  for (const RenumberEdit& edit : result.edits) {
    if (json.back() != '[') json += ',';
    json += "{\"from\":";
    append_json_integer(json, utf16.at(edit.from));
    json += ",\"to\":";
    append_json_integer(json, utf16.at(edit.to));
    json += ",\"text\":";
    append_json_string(json, edit.text);
    json += '}';
  }
  json += "],\"warnings\":[";
  Utf16Offsets places(text);
  for (const RenumberWarning& w : result.warnings) {
    if (json.back() != '[') json += ',';
    json += "{\"code\":";
    append_json_string(json, w.code);
    json += ",\"message\":";
    append_json_string(json, w.message);
    json += ",\"line\":";
    append_json_integer(json, w.place.line);
    json += ",\"column\":";
    append_size(json, w.place.column);
    json += ",\"from\":";
    append_json_integer(json, places.at(w.place.offset));
    json += ",\"to\":";
    append_json_integer(json, places.at(w.place.offset + w.place.length));
    json += '}';
  }
  json += "],\"count\":";
  append_size(json, result.numbers.size());
  json += '}';
}

const char* vorpex_renumbered() {
  return vorpex::web::results.renumbered.data();
}
std::size_t vorpex_renumbered_size() {
  return vorpex::web::results.renumbered.size();
}

}  // extern "C"

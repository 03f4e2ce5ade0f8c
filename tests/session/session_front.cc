// The session as the language server uses it, for the comparison of the three front ends
// (tests/web/compare.mjs): vorpex_session_front [-k] [-w] [-D NAME=VALUE]... SOURCE OUTPUT
// converts SOURCE, writes the output's bytes to OUTPUT, and prints one JSON object: the status,
// the diagnostics as the command line writes them, the line map, and every diagnostic's range as
// an editor gets it in UTF-8 and UTF-16, with the ranges that break a rule (ending before they
// start, running past their line, splitting a character) listed under "bad".
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/diagnostic_text.h"
#include "session/analysis.h"
#include "session/json.h"
#include "session/session.h"
#include "session/text_position.h"

namespace {

using vorpex::Encoding;

void append_range(std::string& out, const vorpex::TextRange& r) {
  out += '[';
  for (const std::int64_t n : {r.start.line, r.start.character, r.end.line, r.end.character}) {
    vorpex::append_json_integer(out, n);
    out += ',';
  }
  out.back() = ']';
}

}  // namespace

int main(int argc, char** argv) {
  vorpex::SessionOptions options;
  options.line_map = true;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-k") {
      options.keep_going = true;
    } else if (arg == "-w") {
      options.warnings = false;
    } else if (arg == "-D" && i + 1 < argc) {
      options.defines.emplace_back(argv[++i]);
    } else {
      files.push_back(arg);
    }
  }
  if (files.size() != 2) {
    std::cerr << "usage: vorpex_session_front [-k] [-w] [-D NAME=VALUE]... SOURCE OUTPUT\n";
    return 2;
  }
  std::ifstream in(files[0], std::ios::binary);
  const std::string source((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

  // With -k the server's own analysis; without it a conversion of the buffer, as the page makes.
  int status = 0;
  std::string output;
  std::string refusal;
  std::vector<vorpex::KeptDiagnostic> diagnostics;
  std::vector<std::int64_t> map;
  if (options.keep_going) {
    refusal = vorpex::refuse_constants(options.defines);
    if (refusal.empty()) {
      vorpex::Analysis analysis = vorpex::analyze(source, options);
      status = analysis.diagnostics.empty() ||
                       std::none_of(analysis.diagnostics.begin(), analysis.diagnostics.end(),
                                    [](const vorpex::KeptDiagnostic& d) {
                                      return d.kind == vorpex::DiagnosticKind::UnknownCharacter;
                                    })
                   ? 0
                   : 1;
      output = std::move(analysis.output);
      diagnostics = std::move(analysis.diagnostics);
      // The server tells of the CRs that end no line after the analysis's own diagnostics.
      if (const auto joins = vorpex::cr_joins_warning(source); joins && options.warnings)
        diagnostics.push_back(*joins);
      map = analysis.line_map();
    } else {
      status = 1;
    }
  } else {
    vorpex::SessionResult result = vorpex::convert(source, options);
    status = result.status;
    output = std::move(result.output);
    refusal = std::move(result.refusal);
    diagnostics = std::move(result.diagnostics);
    for (const vorpex::MapRow& row : result.map)
      map.push_back(row.first);
  }
  std::ofstream(files[1], std::ios::binary) << output;

  const vorpex::LineIndex index(source);
  std::string json = "{\"status\":";
  vorpex::append_json_integer(json, status);
  std::string stderr_text;
  std::string ranges;
  std::string bad;
  for (const vorpex::KeptDiagnostic& d : diagnostics) {
    stderr_text += files[0] + ":" + std::to_string(d.line) + ":" + std::to_string(d.column) +
                   (d.note         ? ": note: "
                    : d.is_error() ? ": error: "
                                   : ": warning: ");
    vorpex::describe(stderr_text, d.view());
    stderr_text += " [" + std::string(vorpex::diagnostic_code(d.kind)) + "]\n";
    for (const Encoding encoding : {Encoding::Utf8, Encoding::Utf16}) {
      const vorpex::TextRange r = index.range(d.offset, d.end_offset, encoding);
      if (!ranges.empty()) ranges += ',';
      append_range(ranges, r);
      const std::string_view line = index.line_text(static_cast<std::size_t>(r.start.line));
      const bool broken =
          r.start.line != r.end.line || r.end.character < r.start.character ||
          r.end.character > vorpex::count_characters(line, encoding) ||
          index.offset(r.start, encoding) > d.offset ||
          // a range that covers a byte of its line is not empty
          (d.end_offset > d.offset && d.offset < index.line_start(r.start.line) + line.size() &&
           r.end.character == r.start.character);
      if (broken) {
        if (!bad.empty()) bad += ',';
        append_range(bad, r);
      }
    }
  }
  if (!refusal.empty()) stderr_text += "vorpex: " + refusal + "\n";
  json += ",\"stderr\":";
  vorpex::append_json_string(json, stderr_text);
  json += ",\"map\":[";
  for (std::size_t i = 0; i < map.size(); ++i) {
    if (i > 0) json += ',';
    vorpex::append_json_integer(json, map[i]);
  }
  json += "],\"ranges\":[" + ranges + "],\"bad\":[" + bad + "]}";
  std::cout << json << '\n';
  return 0;
}

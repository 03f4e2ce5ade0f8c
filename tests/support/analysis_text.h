#pragma once

#include <string>

#include "session/analysis.h"

namespace vorpex::testing {

// Everything an analysis holds, one item a line, so that two analyses compare as text and their
// first difference reads; with the jumps to a missing line as `missing` tells them.
inline std::string analysis_text(const Analysis& a, const std::vector<LineNumberUse>& missing) {
  std::string out;
  const auto add = [&out](const auto&... parts) {
    ((out += parts, out += ' '), ...);
    out += '\n';
  };
  const auto n = [](auto value) { return std::to_string(value); };
  const auto place = [&n](const SourceRange& p) {
    return n(p.line) + ":" + n(p.column) + "+" + n(p.length) + "@" + n(p.offset);
  };
  for (const KeptDiagnostic& d : a.diagnostics) {
    add("diagnostic", n(static_cast<int>(d.kind)), n(d.line), n(d.column), n(d.end_column),
        n(static_cast<int>(d.found_kind)), d.found, n(d.other_line), d.other, n(d.note),
        n(d.related_column), n(d.offset), n(d.end_offset), n(d.related_offset), n(d.message));
  }
  for (const Definition& d : a.definitions)
    add("definition", d.name, d.value, place(d.place));
  for (const Reference& r : a.references)
    add("reference", n(r.definition), place(r.place));
  for (const LineNumberUse& use : a.labels)
    add("label", use.number, place(use.place));
  for (const LineNumberUse& use : a.jumps)
    add("jump", use.number, place(use.place));
  for (const LineNumberUse& use : missing)
    add("missing", use.number, place(use.place));
  for (const TokenEvent& t : a.tokens)
    add("token", n(t.line), n(t.column), n(t.length), n(static_cast<int>(t.role)), n(t.offset));
  for (const MapRow& row : a.map)
    add("row", n(row.first), n(row.last));
  for (const std::uint64_t start : a.output_start)
    add("start", n(start));
  add("output", a.output);
  return out;
}

inline std::string analysis_text(const Analysis& a) {
  return analysis_text(a, a.missing_targets());
}

}  // namespace vorpex::testing

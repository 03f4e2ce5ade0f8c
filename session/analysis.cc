#include "session/analysis.h"

#include <algorithm>
#include <array>
#include <limits>
#include <span>
#include <unordered_map>

#include "engine/char_class.h"
#include "engine/define_directive.h"
#include "session/analysis_collector.h"

namespace vorpex {

std::string_view canonical_number(std::string_view number) {
  std::size_t digits = 0;
  while (digits < number.size() && number[digits] >= '0' && number[digits] <= '9')
    ++digits;
  number = number.substr(0, digits);
  const std::size_t first = number.find_first_not_of('0');
  if (first == std::string_view::npos) return number.empty() ? number : number.substr(0, 1);
  return number.substr(first);
}

Analysis analyze(std::string_view text, const SessionOptions& options) {
  Analysis analysis;
  SessionOptions session_options = options;
  session_options.keep_going = true;
  StringSink sink(analysis.output);
  SourceLines lines(text);
  AnalysisCollector collector(analysis, lines.source(), options.tokens);
  SourcePlaces places(lines, &analysis.diagnostics, &collector);
  MapRecorder map(analysis.map, &analysis.output_start);
  places.set_line_starts(&map);
  Session session(session_options, sink, &places, &map, &places);
  collector.set_symbols(session.symbols());
  if (session.refusal().empty()) {
    for (const std::string& define : options.defines)
      collector.predefined(parse_definition(define).name);
  }
  const ProcessResult result = session.run(lines);
  // The lines after a stop wrote nothing.
  analysis.output_start.resize(static_cast<std::size_t>(result.line_number) + 1,
                               analysis.output.size());
  collector.definition_done();
  collector.finish();
  return analysis;
}

const Definition* Analysis::find_definition(std::string_view name) const {
  const std::string key = upper_word(name);
  for (const Definition& definition : definitions) {
    if (definition.name == key) return &definition;
  }
  return nullptr;
}

const LineNumberUse* Analysis::find_label(std::string_view number) const {
  const std::string_view key = canonical_number(number);
  for (const LineNumberUse& label : labels) {
    if (label.number == key) return &label;
  }
  return nullptr;
}

std::vector<LineNumberUse> Analysis::missing_targets() const {
  std::vector<std::string_view> numbers;
  numbers.reserve(labels.size());
  for (const LineNumberUse& label : labels)
    numbers.push_back(label.number);
  std::sort(numbers.begin(), numbers.end());
  std::vector<LineNumberUse> missing;
  for (const LineNumberUse& jump : jumps) {
    if (!std::binary_search(numbers.begin(), numbers.end(), jump.number)) missing.push_back(jump);
  }
  return missing;
}

std::vector<std::int64_t> Analysis::line_map() const {
  std::vector<std::int64_t> lines;
  lines.reserve(map.size());
  for (const MapRow& row : map)
    lines.push_back(row.first);
  return lines;
}

std::pair<std::size_t, std::size_t> Analysis::output_lines_of(std::int64_t line) const {
  if (line < 1 || static_cast<std::size_t>(line) >= output_start.size()) return {0, 0};
  const std::size_t from = output_start[static_cast<std::size_t>(line) - 1];
  const std::size_t to = output_start[static_cast<std::size_t>(line)];
  if (from >= to) return {0, 0};
  const auto lines_before = [&](std::size_t offset) {
    return static_cast<std::size_t>(
        std::count(output.begin(), output.begin() + static_cast<std::ptrdiff_t>(offset), '\n'));
  };
  const std::size_t first = lines_before(from);
  return {first, first + 1 + lines_before(to - 1) - lines_before(from)};
}

std::string_view Analysis::output_line(std::size_t index) const {
  std::size_t start = 0;
  for (std::size_t i = 0; i < index; ++i) {
    const std::size_t lf = output.find('\n', start);
    if (lf == std::string::npos) return {};
    start = lf + 1;
  }
  std::size_t end = output.find('\n', start);
  if (end == std::string::npos) end = output.size();
  std::string_view text(output.data() + start, end - start);
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  return text;
}

}  // namespace vorpex

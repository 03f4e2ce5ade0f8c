#include "session/session.h"

#include <algorithm>

#include "engine/define_directive.h"
#include "engine/diagnostic_text.h"
#include "engine/writer.h"

namespace vorpex {

std::string ConstantCheck::add(const std::string& define) {
  const DefineResult result = check_.add(parse_definition(define));
  if (result == DefineResult::Defined) return {};
  return "cannot define " + quoted(define) + ": " + std::string(define_refusal(result));
}

std::vector<std::string> accepted_constants(std::span<const std::string> defines,
                                            std::vector<ConstantRefusal>& refused) {
  std::vector<std::string> kept;
  ConstantCheck check;
  for (std::size_t i = 0; i < defines.size(); ++i) {
    if (std::string refusal = check.add(defines[i]); !refusal.empty()) {
      refused.push_back({i, std::move(refusal)});
    } else {
      kept.push_back(defines[i]);
    }
  }
  return kept;
}

std::string refuse_constants(std::span<const std::string> defines) {
  ConstantCheck check;
  for (const std::string& define : defines) {
    if (std::string refusal = check.add(define); !refusal.empty()) return refusal;
  }
  return {};
}

Diagnostic KeptDiagnostic::view() const {
  Diagnostic d;
  d.kind = kind;
  d.line = line;
  d.column = column;
  d.end_column = end_column;
  d.found_kind = found_kind;
  d.found = found;
  d.other_line = other_line;
  d.other = other;
  d.note = note;
  d.related_column = related_column;
  d.count = count;
  return d;
}

void DiagnosticFilter::report(const Diagnostic& d) {
  if (every_ != nullptr) every_->report(d);
  if (d.note) {
    // A note goes with the diagnostic before it, shown or not.
    if (shown_ && next_ != nullptr) next_->report(d);
    return;
  }
  const bool error = is_error(d.kind);
  shown_ = error || warnings_;
  if (!shown_) return;
  (error ? errors_ : warning_count_) += 1;
  if (next_ != nullptr) next_->report(d);
}

Session::Session(const SessionOptions& options, ByteSink& output, DiagnosticObserver* diagnostics,
                 LineMapRows* map, TokenObserver* tokens, std::size_t output_buffer_size)
    : refusal_(refuse_constants(options.defines)),
      filter_(diagnostics, options.warnings),
      processor_(map != nullptr ? static_cast<ByteSink&>(line_map_.emplace(output, *map)) : output,
                 output_buffer_size) {
  if (!refusal_.empty()) return;
  for (const std::string& text : options.defines) {
    const ParsedDefinition definition = parse_definition(text);
    processor_.define_constant(definition.name, definition.value);
  }
  processor_.set_diagnostics(&filter_);
  processor_.set_keep_going(options.keep_going);
  if (line_map_) processor_.set_line_observer(&*line_map_);
  if (tokens != nullptr) processor_.set_token_observer(tokens);
}

void Session::resume(const LineProcessor::Checkpoint& from, std::uint64_t output_size,
                     bool at_line_start, std::int64_t map_line) {
  processor_.resume(from);
  if (line_map_) line_map_->resume(output_size, at_line_start, map_line);
}

void Session::restore_constants(std::span<const SymbolEntry> rows, std::int64_t before_line) {
  SymbolTable& table = processor_.symbols();
  for (const SymbolEntry& row : rows) {
    if (row.line != 0 && row.line < before_line) {
      std::string name = row.name;
      std::string value = row.value;
      table.add_symbol(name, value, row.line);
    }
    if (row.overridden_line != 0 && row.overridden_line < before_line)
      table.mark_overridden(row.name, row.overridden_line);
  }
}

ProcessResult Session::run(LineSource& input) {
  if (!refusal_.empty()) return {};
  return processor_.process_input(input);
}

SourceLines::SourceLines(std::string_view source)
    : source_(source.substr(0, source.find('\x1a'))) {}

SourceLines::SourceLines(std::string_view source, std::size_t from, std::int64_t lines_before)
    : source_(source.substr(0, source.find('\x1a', from))),
      next_(from),
      lines_before_(lines_before),
      first_(from) {}

bool SourceLines::next_line(std::span<char>& line) {
  if (done_) return false;
  std::size_t end = source_.find('\n', next_);
  if (end == std::string_view::npos) {
    done_ = true;
    if (next_ == source_.size()) return false;  // the source ended with its line break
    end = source_.size();
  }
  const std::string_view raw = source_.substr(next_, end - next_);
  // Runs of lines hold no CR: only a line read on its own may hold one that ends no line.
  if (tell_joins_) joins_.scan(raw);
  start_ = next_;
  starts_.push_back(start_);
  next_ = end + 1;
  buffer_.clear();
  removed_.clear();
  // Copied a run between CR bytes at a time; most lines hold none, or one at their end.
  std::size_t from = 0;
  for (std::size_t cr = raw.find('\r'); cr != std::string_view::npos; cr = raw.find('\r', from)) {
    buffer_.append(raw.substr(from, cr - from));
    removed_.push_back(buffer_.size());
    from = cr + 1;
  }
  buffer_.append(raw.substr(from));
  size_ = buffer_.size();
  buffer_.resize(size_ + 1 + kLinePadding, '\0');
  line = {buffer_.data(), size_};
  return true;
}

bool SourceLines::next_lines(std::span<char>& lines) {
  constexpr std::size_t kRun = 64 * 1024;
  if (done_) return false;
  std::string_view rest = source_.substr(next_, kRun);
  rest = rest.substr(0, rest.find('\r'));
  const std::size_t last = rest.rfind('\n');
  if (last == std::string_view::npos) return false;
  const std::string_view run = rest.substr(0, last + 1);
  for (std::size_t at = 0; at < run.size();) {
    const std::size_t lf = run.find('\n', at);
    start_ = next_ + at;
    starts_.push_back(start_);
    size_ = lf - at;
    at = lf + 1;
  }
  removed_.clear();
  next_ += run.size();
  buffer_.assign(run);
  buffer_.append(kBlockPadding, '\0');
  lines = {buffer_.data(), run.size()};
  return true;
}

std::size_t SourceLines::original_column(std::size_t column) const {
  // Each CR removed before the byte at `column` shifts it.
  if (removed_.empty()) return column;
  const auto shift = std::lower_bound(removed_.begin(), removed_.end(), column) - removed_.begin();
  return column + static_cast<std::size_t>(shift);
}

std::size_t SourceLines::offset(std::size_t column) const {
  // The end of the line stands just after its last byte, before a CR that ends it.
  if (column > size_) return end_offset(size_ + 1);
  return start_ + original_column(std::max<std::size_t>(column, 1)) - 1;
}

std::size_t SourceLines::end_offset(std::size_t column) const {
  column = std::min(column, size_ + 1);
  return column <= 1 ? start_ : offset(column - 1) + 1;
}

std::size_t SourceLines::offset(std::int64_t line, std::size_t column) const {
  if (line < 1 || line > lines_read()) return start_;
  std::size_t at = 0;
  if (line <= lines_before_) {
    // A line before the first one read: found back from there, a line end at a time.
    at = first_;
    for (std::int64_t back = lines_before_ - line + 1; back > 0 && at > 0; --back) {
      // The line before ends with the LF just before `at`.
      const std::size_t lf = at >= 2 ? source_.rfind('\n', at - 2) : std::string_view::npos;
      at = lf == std::string_view::npos ? 0 : lf + 1;
    }
  } else if (line == lines_read()) {
    return offset(column);
  } else {
    at = starts_[static_cast<std::size_t>(line - lines_before_) - 1];
  }
  for (std::size_t seen = 1; at < source_.size(); ++at) {
    if (source_[at] == '\r') continue;
    if (seen++ == column) break;
  }
  return at;
}

void SourcePlaces::report(const Diagnostic& d) {
  if (diagnostics_ == nullptr) return;
  KeptDiagnostic& kept = diagnostics_->emplace_back();
  kept.kind = d.kind;
  kept.line = d.line;
  kept.column = d.column;
  kept.end_column = std::max(d.end_column, d.column);
  kept.found_kind = d.found_kind;
  kept.found.assign(d.found);
  kept.other_line = d.other_line;
  kept.other.assign(d.other);
  kept.note = d.note;
  kept.related_column = d.related_column;
  kept.count = d.count;
  if (d.message_at != 0 && map_ != nullptr) {
    if (d.line != message_line_) {
      message_line_ = d.line;
      messages_before_ = 0;
    } else {
      ++messages_before_;
    }
    const std::optional<std::uint64_t> start = map_->line_start(d.line);
    if (start && *start < d.message_at) {
      kept.message = static_cast<std::size_t>(d.message_at - *start) -
                     messages_before_ * Decimal(d.line).view().size();
    }
  }
  // A note may be about an earlier line (the apostrophe that joined the next line).
  if (d.line != lines_.lines_read()) {
    kept.offset = lines_.offset(d.line, kept.column);
    kept.end_offset = kept.offset + (kept.end_column - kept.column);
    kept.related_offset = d.related_column != 0 ? lines_.offset(d.line, d.related_column) : 0;
    return;
  }
  kept.offset = lines_.offset(kept.column);
  kept.end_offset = std::max(kept.offset, lines_.end_offset(kept.end_column));
  kept.related_offset = d.related_column != 0 ? lines_.offset(d.related_column) : 0;
}

void SourcePlaces::token(const TokenEvent& raw) {
  if (tokens_ == nullptr) return;
  TokenEvent event = raw;
  event.offset = lines_.offset(raw.column);
  const std::size_t end = std::max(event.offset, lines_.end_offset(raw.column + raw.length));
  event.column = lines_.original_column(raw.column);
  event.length = end - event.offset;
  tokens_->token(event);
}

void MapRecorder::output_line(std::int64_t, std::int64_t input_line) {
  if (rows_ != nullptr) rows_->push_back({input_line, input_line});
}

void MapRecorder::output_line_end(std::int64_t input_line) {
  if (rows_ == nullptr) return;
  if (rows_->empty()) {
    ended_before_ = input_line;
  } else {
    rows_->back().last = input_line;
  }
}

std::optional<std::uint64_t> MapRecorder::line_start(std::int64_t input_line) const {
  if (line_starts_ == nullptr || input_line <= lines_before_) return std::nullopt;
  const auto index = static_cast<std::size_t>(input_line - lines_before_);
  if (index > line_starts_->size()) return std::nullopt;
  return (*line_starts_)[index - 1];
}

void MapRecorder::input_line(std::int64_t input_line, std::uint64_t output_size) {
  if (line_starts_ == nullptr) return;
  // Lines after a stop write nothing, and are not told of: they start where the output ends.
  const auto index = static_cast<std::size_t>(input_line - lines_before_);
  line_starts_->resize(index, output_size);
  (*line_starts_)[index - 1] = output_size;
}

namespace {

class TokenList : public TokenObserver {
 public:
  explicit TokenList(std::vector<TokenEvent>& tokens) : tokens_(tokens) {}
  void token(const TokenEvent& event) override { tokens_.push_back(event); }

 private:
  std::vector<TokenEvent>& tokens_;
};

}  // namespace

SessionResult convert(std::string_view source, const SessionOptions& options) {
  SessionResult result;
  StringSink output(result.output);
  SourceLines lines(source);
  lines.tell_cr_joins();
  TokenList tokens(result.tokens);
  SourcePlaces places(lines, &result.diagnostics, options.tokens ? &tokens : nullptr);
  MapRecorder map(result.map, nullptr);
  Session session(options, output, &places, options.line_map ? &map : nullptr,
                  options.tokens ? &places : nullptr);
  if (!session.refusal().empty()) {
    result.refusal = session.refusal();
    result.status = 1;
    return result;
  }
  const ProcessResult run = session.run(lines);
  result.outcome = run.outcome;
  result.status = run.outcome == Outcome::Done ? 0 : 1;
  result.errors = session.errors();
  result.warnings = session.warnings();
  result.lines = run.line_number;
  return result;
}

KeptDiagnostic cr_joins_kept(const CrJoins& joins, std::int64_t line, std::size_t after) {
  const Diagnostic d = joins.diagnostic(line);
  KeptDiagnostic kept;
  kept.kind = d.kind;
  kept.line = d.line;
  kept.column = d.column;
  kept.end_column = d.end_column;
  kept.count = d.count;
  // At the text after the first run of CRs; no CR stands before it on its line.
  kept.offset = after;
  kept.end_offset = after;
  return kept;
}

std::optional<KeptDiagnostic> cr_joins_warning(std::string_view source) {
  source = source.substr(0, source.find('\x1a'));
  // The whole lines a step at a time (a document with CR LF line ends is read again on every
  // change), then the last line, without its LF.
  CrJoins joins;
  const std::size_t last_lf = source.rfind('\n');
  const std::string_view lines =
      source.substr(0, last_lf == std::string_view::npos ? 0 : last_lf + 1);
  joins.scan_run(lines, simd::kBest);
  const bool in_lines = joins.count != 0;
  joins.scan(source.substr(lines.size()));
  if (joins.count == 0) return std::nullopt;
  // The first in the last line: counted from that line's start.
  if (!in_lines) joins.lines_before += std::count(lines.begin(), lines.end(), '\n');
  const std::int64_t line = joins.lines_before + 1;
  std::size_t line_start = 0;
  for (std::int64_t l = 1; l < line; ++l)
    line_start = source.find('\n', line_start) + 1;
  return cr_joins_kept(joins, line, source.find_first_not_of('\r', line_start + joins.column - 1));
}

}  // namespace vorpex

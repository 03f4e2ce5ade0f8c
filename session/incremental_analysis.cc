#include "session/incremental_analysis.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "engine/define_directive.h"
#include "engine/messages.h"
#include "engine/writer.h"
#include "session/analysis_collector.h"

namespace vorpex {

namespace {

std::size_t moved(std::size_t offset, std::int64_t by) {
  return static_cast<std::size_t>(static_cast<std::int64_t>(offset) + by);
}

// Makes `list` its first `head` elements, then `middle`'s, then its own from `tail` on, each of
// those changed by `shift`.
template <typename T, typename Shift>
void splice(std::vector<T>& list, std::size_t head, std::size_t tail, std::vector<T>& middle,
            Shift shift) {
  if (head == 0 && tail == list.size()) {
    list.swap(middle);  // all of it anew: nothing is copied
    return;
  }
  const std::size_t tail_size = list.size() - tail;
  const std::size_t at = head + middle.size();
  if (at < tail) {
    std::move(list.begin() + static_cast<std::ptrdiff_t>(tail), list.end(),
              list.begin() + static_cast<std::ptrdiff_t>(at));
    list.resize(at + tail_size);
  } else if (at > tail) {
    list.resize(at + tail_size);
    std::move_backward(list.begin() + static_cast<std::ptrdiff_t>(tail),
                       list.begin() + static_cast<std::ptrdiff_t>(tail + tail_size), list.end());
  }
  std::move(middle.begin(), middle.end(), list.begin() + static_cast<std::ptrdiff_t>(head));
  for (auto it = list.begin() + static_cast<std::ptrdiff_t>(at); it != list.end(); ++it)
    shift(*it);
}

// Gives back the room a list does not use, when that is more than an eighth of it.
template <typename List>
void trim(List& list) {
  if (list.capacity() > list.size() + list.size() / 8 + 64) list.shrink_to_fit();
}

// The number of elements of `list`, sorted by `key`, whose key is below `line`.
template <typename T, typename Key>
std::size_t count_below(const std::vector<T>& list, std::int64_t line, Key key) {
  return static_cast<std::size_t>(
      std::partition_point(list.begin(), list.end(),
                           [&](const T& element) { return key(element) < line; }) -
      list.begin());
}

// How an element of each list moves with the text: its bytes by `by`, its lines by `shift`.
void move_offsets(KeptDiagnostic& d, std::int64_t by) {
  d.offset = moved(d.offset, by);
  d.end_offset = moved(d.end_offset, by);
  if (d.related_column != 0) d.related_offset = moved(d.related_offset, by);
}
void move_offsets(Definition& d, std::int64_t by) {
  d.place.offset = moved(d.place.offset, by);
}
void move_offsets(Reference& r, std::int64_t by) {
  r.place.offset = moved(r.place.offset, by);
}
void move_offsets(LineNumberUse& u, std::int64_t by) {
  u.place.offset = moved(u.place.offset, by);
}
void move_offsets(TokenEvent& t, std::int64_t by) {
  t.offset = moved(t.offset, by);
}
template <typename Shift>
void move_lines(KeptDiagnostic& d, const Shift& shift) {
  d.line = shift(d.line);
  d.other_line = shift(d.other_line);
}
template <typename Shift>
void move_lines(TokenEvent& t, const Shift& shift) {
  t.line = shift(t.line);
}
template <typename Element, typename Shift>
void move_lines(Element& e, const Shift& shift) {
  e.place.line = shift(e.place.line);
}

bool writes_message(DiagnosticKind kind) {
  return kind == DiagnosticKind::EqualsExpected || kind == DiagnosticKind::ValueExpected ||
         kind == DiagnosticKind::AlreadyDefined || kind == DiagnosticKind::TableFull;
}

}  // namespace

template <typename F, typename... Analyses>
void IncrementalAnalysis::for_each_list(F&& f, Analyses&... a) {
  f(std::integral_constant<KeptList, kDiagnostics>{}, a.diagnostics...);
  f(std::integral_constant<KeptList, kDefinitions>{}, a.definitions...);
  f(std::integral_constant<KeptList, kReferences>{}, a.references...);
  f(std::integral_constant<KeptList, kLabels>{}, a.labels...);
  f(std::integral_constant<KeptList, kJumps>{}, a.jumps...);
  f(std::integral_constant<KeptList, kTokens>{}, a.tokens...);
}

IncrementalAnalysis::ListCounts IncrementalAnalysis::sizes(const Analysis& analysis) {
  ListCounts counts{};
  for_each_list([&](auto which, const auto& list) { counts[which] = list.size(); }, analysis);
  return counts;
}

std::int64_t IncrementalAnalysis::find_messages(const Analysis& old, std::size_t first,
                                                std::int64_t stopped_line,
                                                std::vector<Renumbering>& found) {
  // Each message's place is kept with its diagnostic; the output is only checked to hold the
  // line's number there.
  std::int64_t unsure = 0;
  const std::string_view output = old.output;
  std::int64_t line = 0;
  std::size_t before = 0;  // the messages of the line before this one
  for (std::size_t i = first; i < old.diagnostics.size(); ++i) {
    const KeptDiagnostic& d = old.diagnostics[i];
    if (d.note || !writes_message(d.kind)) continue;
    before = d.line == line ? before + 1 : 0;
    line = d.line;
    if (stopped_line != 0 && line >= stopped_line) {
      // The messages of the stop's line may be cut off by the stop, and later ones are dropped.
      if (line == stopped_line) unsure = line;
      continue;
    }
    const auto index = static_cast<std::size_t>(line);
    const Decimal number(line);
    const std::size_t digits = number.view().size();
    const std::size_t at =
        index < old.output_start.size()
            ? static_cast<std::size_t>(old.output_start[index - 1]) + d.message + before * digits
            : output.size();
    if (d.message == 0 || at > output.size() || output.substr(at, digits) != number.view() ||
        output.substr(at + digits, 2) != "\r\n") {
      unsure = line;
      continue;
    }
    found.push_back({line, at, digits});
  }
  return unsure;
}

std::optional<std::string> IncrementalAnalysis::output_renumbered(std::size_t from, std::size_t to,
                                                                  std::int64_t after,
                                                                  std::int64_t delta) const {
  const std::size_t first =
      count_below(analysis_.diagnostics, after + 1, [](const KeptDiagnostic& d) { return d.line; });
  std::vector<Renumbering> found;
  if (find_messages(analysis_, first, stopped_line_, found) != 0) return std::nullopt;
  std::string out;
  std::size_t at = from;
  for (const Renumbering& r : found) {
    if (r.at < at || r.at + r.length > to) continue;
    out.append(analysis_.output, at, r.at - at);
    out += Decimal(r.line + delta).view();
    at = r.at + r.length;
  }
  out.append(analysis_.output, at, to - at);
  return out;
}

namespace {

// A line source that asks before each line whether to go on.
template <typename Ask>
class AskingLines : public LineSource {
 public:
  AskingLines(SourceLines& lines, Ask ask) : lines_(lines), ask_(std::move(ask)) {}
  bool next_line(std::span<char>& line) override { return ask_() && lines_.next_line(line); }

 private:
  SourceLines& lines_;
  Ask ask_;
};

}  // namespace

namespace {

// A line number as a key that sorts and compares cheaply: its value, for a number of up to 18
// digits (given without its leading zeros); kLongNumber for any other, which is compared as text.
constexpr std::uint64_t kLongNumber = ~std::uint64_t{0};

std::uint64_t number_key(std::string_view number) {
  if (number.empty() || number.size() > 18) return kLongNumber;
  std::uint64_t value = 0;
  for (const char digit : number)
    value = value * 10 + static_cast<std::uint64_t>(digit - '0');
  return value;
}

}  // namespace

void IncrementalAnalysis::update_labels(std::size_t head, std::size_t tail,
                                        const std::vector<LineNumberUse>& middle) {
  // The keys of the labels that the run read again, before and after, each sorted; then the
  // keys whose count went from none to some or from some to none.
  std::vector<std::uint64_t> gone;
  for (std::size_t i = head; i < tail; ++i)
    gone.push_back(number_key(analysis_.labels[i].number));
  std::vector<std::uint64_t> come;
  for (const LineNumberUse& label : middle)
    come.push_back(number_key(label.number));
  std::sort(gone.begin(), gone.end());
  std::sort(come.begin(), come.end());
  std::vector<std::uint64_t> kept;
  kept.reserve(label_keys_.size() - gone.size() + come.size());
  std::set_difference(label_keys_.begin(), label_keys_.end(), gone.begin(), gone.end(),
                      std::back_inserter(kept));
  std::vector<std::uint64_t> keys;
  keys.reserve(kept.size() + come.size());
  std::merge(kept.begin(), kept.end(), come.begin(), come.end(), std::back_inserter(keys));
  changed_keys_.clear();
  std::set_union(gone.begin(), gone.end(), come.begin(), come.end(),
                 std::back_inserter(changed_keys_));
  changed_keys_.erase(std::unique(changed_keys_.begin(), changed_keys_.end()), changed_keys_.end());
  std::erase_if(changed_keys_, [&](std::uint64_t key) {
    return key != kLongNumber && std::binary_search(label_keys_.begin(), label_keys_.end(), key) ==
                                     std::binary_search(keys.begin(), keys.end(), key);
  });
  label_keys_ = std::move(keys);
}

void IncrementalAnalysis::update_missing(std::size_t head, std::size_t old_tail,
                                         std::size_t middle) {
  const std::vector<LineNumberUse>& jumps = analysis_.jumps;
  const std::size_t tail = head + middle;
  const auto moved_by = static_cast<std::ptrdiff_t>(tail) - static_cast<std::ptrdiff_t>(old_tail);
  std::vector<std::uint64_t> keys;
  keys.reserve(jumps.size());
  keys.insert(keys.end(), jump_keys_.begin(),
              jump_keys_.begin() + static_cast<std::ptrdiff_t>(std::min(head, jump_keys_.size())));
  for (std::size_t i = head; i < tail; ++i)
    keys.push_back(number_key(jumps[i].number));
  if (old_tail < jump_keys_.size())
    keys.insert(keys.end(), jump_keys_.begin() + static_cast<std::ptrdiff_t>(old_tail),
                jump_keys_.end());
  jump_keys_ = std::move(keys);

  const auto begins_no_line = [&](std::size_t jump) {
    const std::uint64_t key = jump_keys_[jump];
    if (key != kLongNumber) return !std::binary_search(label_keys_.begin(), label_keys_.end(), key);
    return std::none_of(
        analysis_.labels.begin(), analysis_.labels.end(),
        [&](const LineNumberUse& label) { return label.number == jumps[jump].number; });
  };
  const auto changed = [&](std::size_t jump) {
    return std::binary_search(changed_keys_.begin(), changed_keys_.end(), jump_keys_[jump]);
  };
  // The jumps outside the run keep what they were, but those whose number's labels came or went.
  std::vector<std::size_t> missing;
  std::size_t next = 0;  // the old list's next entry
  const auto carry = [&](std::size_t from, std::size_t to, std::ptrdiff_t by) {
    for (; next < missing_.size() &&
           static_cast<std::ptrdiff_t>(missing_[next]) + by < static_cast<std::ptrdiff_t>(from);
         ++next) {
    }
    if (changed_keys_.empty()) {
      for (; next < missing_.size() &&
             static_cast<std::ptrdiff_t>(missing_[next]) + by < static_cast<std::ptrdiff_t>(to);
           ++next)
        missing.push_back(
            static_cast<std::size_t>(static_cast<std::ptrdiff_t>(missing_[next]) + by));
      return;
    }
    for (std::size_t jump = from; jump < to; ++jump) {
      bool was = false;
      if (next < missing_.size() &&
          static_cast<std::ptrdiff_t>(missing_[next]) + by == static_cast<std::ptrdiff_t>(jump)) {
        was = true;
        ++next;
      }
      if (changed(jump) ? begins_no_line(jump) : was) missing.push_back(jump);
    }
  };
  carry(0, head, 0);
  for (std::size_t jump = head; jump < tail; ++jump) {
    if (begins_no_line(jump)) missing.push_back(jump);
  }
  next = 0;
  carry(tail, jumps.size(), moved_by);
  missing_ = std::move(missing);
}

std::vector<LineNumberUse> IncrementalAnalysis::missing_targets() const {
  std::vector<LineNumberUse> list;
  list.reserve(missing_.size());
  for (const std::size_t jump : missing_)
    list.push_back(analysis_.jumps[jump]);
  return list;
}

IncrementalAnalysis::IncrementalAnalysis(const SessionOptions& options,
                                         std::int64_t checkpoint_lines)
    : options_(options),
      checkpoint_lines_(std::max<std::int64_t>(checkpoint_lines, 1)),
      refused_(!refuse_constants(options.defines).empty()) {
  options_.keep_going = true;
}

void IncrementalAnalysis::reset(std::string_view text) {
  if (refused_) {
    analysis_ = analyze(text, options_);
    read_from_ = 0;
    read_to_ = text.size();
    return;
  }
  keep(text, read(text, 0, nullptr));
}

void IncrementalAnalysis::update(std::string_view text, const TextChange& change) {
  if (!change.changed) {
    read_from_ = read_to_ = text.size();
    return;
  }
  if (refused_ || checkpoints_.empty()) {
    reset(text);
    return;
  }
  const std::size_t from = resume_point(text, change);
  TextChange clamped = change;
  clamp(clamped, text);
  keep(text, read(text, from, &clamped));
}

void IncrementalAnalysis::clamp(TextChange& change, std::string_view text) const {
  const std::size_t common = std::min(size_, text.size());
  change.prefix = std::min(change.prefix, common);
  change.suffix = std::min(change.suffix, common - change.prefix);
}

std::size_t IncrementalAnalysis::resume_point(std::string_view text,
                                              const TextChange& change) const {
  TextChange clamped = change;
  clamp(clamped, text);
  // The last checkpoint at or before the first byte changed; the first one stands at 0.
  const auto after = std::upper_bound(
      checkpoints_.begin(), checkpoints_.end(), clamped.prefix,
      [](std::size_t offset, const Checkpoint& checkpoint) { return offset < checkpoint.offset; });
  return static_cast<std::size_t>(after - checkpoints_.begin()) - 1;
}

IncrementalAnalysis::Reading IncrementalAnalysis::read(std::string_view text,
                                                       std::size_t from_index,
                                                       const TextChange* change, bool tokens,
                                                       const Window* window) const {
  const std::size_t base = window != nullptr ? window->base : 0;
  const std::size_t size = window != nullptr ? window->size : text.size();
  Reading r;
  r.from_index = from_index;
  r.resumed = change != nullptr;
  const Checkpoint* const from = r.resumed ? &checkpoints_[from_index] : nullptr;
  if (from != nullptr) r.head = *from;
  const Checkpoint& head = r.head;
  const std::int64_t lines_before = head.state.line_number;
  // How the old run ended: the output before its stop's message.
  r.old_kept =
      stopped_line_ != 0 && from != nullptr
          ? analysis_.output.size() - line_message(kUnknownTokenMessage, stopped_line_).size()
          : analysis_.output.size();
  r.old_kept_ends_line = r.old_kept == 0 || analysis_.output[r.old_kept - 1] == '\n';
  const std::size_t old_kept = r.old_kept;
  const bool old_kept_ends_line = r.old_kept_ends_line;

  Analysis& middle = r.middle;
  if (!r.resumed) {
    // The whole text: room for as much output, and a start for each line, at once.
    middle.output.reserve(text.size());
    middle.output_start.reserve(
        static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 2);
  }
  StringSink sink(middle.output);
  SourceLines lines(text, head.offset - base, lines_before);
  AnalysisCollector collector(middle, lines.source(), options_.tokens || tokens,
                              head.counts[kDefinitions]);
  SourcePlaces places(lines, &middle.diagnostics, &collector);
  MapRecorder map(options_.line_map ? &middle.map : nullptr, &middle.output_start, lines_before);
  places.set_line_starts(&map);
  Session session(options_, sink, &places, &map, &places);
  collector.set_symbols(session.symbols());
  if (from != nullptr) {
    session.restore_constants(symbols_, lines_before + 1);
    for (std::size_t i = 0; i < head.counts[kDefinitions]; ++i)
      collector.known(session.symbols().entry_of(analysis_.definitions[i].name), i);
    if (head.state.stopped_line == 0) {
      session.resume(head.state, head.state.output_size, head.state.at_line_start, lines_before);
    } else {
      session.resume(head.state, old_kept, old_kept_ends_line, head.state.stopped_line);
    }
  } else {
    for (const std::string& define : options_.defines)
      collector.predefined(parse_definition(define).name);
  }

  // Where the old run is met again: the old checkpoint, and the line shift.
  // Where the bytes that the change left alone at the end start, in `text`.
  const std::size_t suffix_start = (change != nullptr ? size - change->suffix : size) - base;
  std::vector<Checkpoint>& recorded = r.recorded;
  std::int64_t last_recorded = lines_before;
  std::size_t candidate = from_index;
  std::int64_t suffix_line = 0;   // the new line that holds the suffix's first byte
  std::int64_t unsure_line = -1;  // -1: the old messages not looked for yet

  const auto same_state = [&](const Checkpoint& old, const LineProcessor::Checkpoint& now,
                              const LineShift& m) {
    const LineProcessor::Checkpoint& then = old.state;
    if (now.stopped_line != m(then.stopped_line) || now.at_line_start != then.at_line_start ||
        now.join.is_open() != then.join.is_open())
      return false;
    if (now.join.is_open() &&
        (now.join.line() != m(then.join.line()) ||
         now.join.end() - now.output_size != then.join.end() - then.output_size ||
         !now.join.same_words(then.join)))
      return false;
    if (head.counts[kDefinitions] + middle.definitions.size() != old.counts[kDefinitions])
      return false;
    const std::span<const SymbolEntry> rows = session.symbols().rows();
    if (rows.size() != old.symbols) return false;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const SymbolEntry& a = rows[i];
      const SymbolEntry& b = symbols_[i];
      const std::int64_t overridden =
          b.overridden_line != 0 && b.overridden_line <= then.line_number ? m(b.overridden_line)
                                                                          : 0;
      if (a.overridden_line != overridden) return false;
      if (i >= head.symbols && (a.line != m(b.line) || a.name != b.name || a.value != b.value))
        return false;
    }
    return true;
  };

  const auto before_line = [&] {
    collector.definition_done();
    if (lines.at_end()) {
      r.incomplete = window != nullptr && window->partial;
      return true;
    }
    const std::int64_t read = lines.lines_read();
    const std::size_t offset = lines.next_offset();
    if (from != nullptr && offset > suffix_start) {
      // The rest of the text is the old text's end: the old run may be met here.
      const std::size_t old_offset = base + offset + size_ - size;
      while (candidate < checkpoints_.size() && checkpoints_[candidate].offset < old_offset)
        ++candidate;
      if (candidate < checkpoints_.size() && checkpoints_[candidate].offset == old_offset) {
        const Checkpoint& old = checkpoints_[candidate];
        if (suffix_line == 0) {
          suffix_line = read + 1 -
                        std::count(text.begin() + static_cast<std::ptrdiff_t>(suffix_start),
                                   text.begin() + static_cast<std::ptrdiff_t>(offset), '\n');
        }
        const std::int64_t delta = read - old.state.line_number;
        const LineShift m{suffix_line - delta, delta};
        const LineProcessor::Checkpoint now = session.checkpoint(read);
        bool renumbered = true;
        if (delta != 0 && now.stopped_line == 0 && window == nullptr) {
          // The messages in the old output name their lines: they must be found to be renumbered.
          if (unsure_line < 0)
            unsure_line =
                find_messages(analysis_, head.counts[kDiagnostics], stopped_line_, r.renumberings);
          renumbered = unsure_line <= old.state.line_number;
        }
        if (renumbered && same_state(old, now, m)) {
          r.met = true;
          r.meet_index = candidate;
          r.meet_state = now;
          r.shift = m;
          return false;
        }
      }
    }
    if ((from == nullptr && read == 0) || read - last_recorded >= checkpoint_lines_) {
      Checkpoint checkpoint;
      checkpoint.state = session.checkpoint(read);
      checkpoint.offset = base + offset;
      const ListCounts made = sizes(middle);
      for (std::size_t k = 0; k < kKeptLists; ++k)
        checkpoint.counts[k] = head.counts[k] + made[k];
      checkpoint.symbols = session.symbols().size();
      recorded.push_back(std::move(checkpoint));
      last_recorded = read;
    }
    return true;
  };
  AskingLines source(lines, before_line);
  const ProcessResult result = session.run(source);
  collector.definition_done();
  collector.finish();
  r.lines = result.line_number;
  r.end = session.checkpoint(result.line_number);
  r.ended_before = map.ended_before();
  if (!r.met) {
    const std::span<const SymbolEntry> rows = session.symbols().rows();
    r.symbols.assign(rows.begin(), rows.end());
  }
  r.size = size;
  return r;
}

IncrementalAnalysis::Trial IncrementalAnalysis::try_change(std::string_view text,
                                                           const TextChange& change,
                                                           bool tokens) const {
  if (refused_ || checkpoints_.empty() || !change.changed) return {};
  TextChange clamped = change;
  clamp(clamped, text);
  return trial_of(read(text, resume_point(text, change), &clamped, tokens));
}

IncrementalAnalysis::Trial IncrementalAnalysis::trial_of(Reading&& r) const {
  Trial trial;
  const Checkpoint* const old = r.met ? &checkpoints_[r.meet_index] : nullptr;
  trial.read = true;
  trial.lines = std::move(r.middle);
  trial.first_line = r.head.state.line_number + 1;
  trial.met = r.met;
  trial.stopped_line = r.end.stopped_line;
  trial.from = {r.head.counts[kDiagnostics], r.head.counts[kLabels], r.head.counts[kJumps],
                r.head.state.stopped_line == 0 ? static_cast<std::size_t>(r.head.state.output_size)
                                               : r.old_kept,
                trial.first_line};
  if (old != nullptr) {
    trial.to = {old->counts[kDiagnostics], old->counts[kLabels], old->counts[kJumps],
                old->state.stopped_line == 0 ? static_cast<std::size_t>(old->state.output_size)
                                             : r.old_kept,
                old->state.line_number + 1};
  } else {
    trial.to = {analysis_.diagnostics.size(), analysis_.labels.size(), analysis_.jumps.size(),
                r.old_kept, lines_ + 1};
  }
  return trial;
}

IncrementalAnalysis::Trial IncrementalAnalysis::try_edit(std::string_view text, std::size_t from,
                                                         std::size_t to, std::string_view inserted,
                                                         bool tokens) const {
  to = std::min(to, text.size());
  from = std::min(from, to);
  if (refused_ || checkpoints_.empty() || text.size() != size_) return {};
  TextChange change;
  change.add(text.size(), from, to);
  // The window: from the checkpoint before the one the reading starts at (a note may be about a
  // line before it), to the checkpoint two after the first one past the edit.
  const std::size_t start = resume_point(text, change);
  const std::size_t base = checkpoints_[start > 0 ? start - 1 : 0].offset;
  const auto after = static_cast<std::size_t>(
      std::upper_bound(checkpoints_.begin(), checkpoints_.end(), to,
                       [](std::size_t offset, const Checkpoint& checkpoint) {
                         return offset < checkpoint.offset;
                       }) -
      checkpoints_.begin());
  const std::size_t end_index = after + 2;
  const std::size_t end =
      end_index < checkpoints_.size() ? checkpoints_[end_index].offset : text.size();
  std::string part;
  part.reserve(end - base + inserted.size());
  part.append(text, base, from - base);
  part.append(inserted);
  part.append(text, to, end - to);
  const Window window{base, text.size() - (to - from) + inserted.size(), end < text.size()};
  Reading r = read(part, start, &change, tokens, &window);
  if (r.incomplete) {
    // The changed text goes on differently past the window: read as a whole.
    std::string whole(text);
    whole.replace(from, to - from, inserted);
    return try_change(whole, change, tokens);
  }
  Trial trial = trial_of(std::move(r));
  move_places(trial.lines, base);
  return trial;
}

Analysis IncrementalAnalysis::lines_between(std::string_view text, std::size_t from,
                                            std::size_t to) const {
  if (refused_ || checkpoints_.empty() || text.size() != size_) {
    SessionOptions options = options_;
    options.tokens = true;
    return analyze(text, options);
  }
  to = std::min(to, text.size());
  from = std::min(from, to);
  const auto after = [&](std::size_t offset) {
    return static_cast<std::size_t>(
        std::upper_bound(checkpoints_.begin(), checkpoints_.end(), offset,
                         [](std::size_t at, const Checkpoint& c) { return at < c.offset; }) -
        checkpoints_.begin());
  };
  // From the checkpoint at or before `from` to the one after `to`; the text is not copied.
  const std::size_t start = after(from) - 1;
  const std::size_t end_index = after(to);
  const std::size_t base = checkpoints_[start].offset;
  const std::size_t end =
      end_index < checkpoints_.size() ? checkpoints_[end_index].offset : text.size();
  // A change that left the whole text alone: the old run is never met, and the reading ends with
  // the window.
  TextChange none;
  none.changed = true;
  none.prefix = text.size();
  const Window window{base, text.size(), end < text.size()};
  Reading r = read(text.substr(base, end - base), start, &none, true, &window);
  move_places(r.middle, base);
  return std::move(r.middle);
}

void IncrementalAnalysis::move_places(Analysis& lines, std::size_t base) {
  for_each_list(
      [&](auto, auto& list) {
        for (auto& element : list)
          move_offsets(element, static_cast<std::int64_t>(base));
      },
      lines);
}

std::size_t IncrementalAnalysis::label_count(std::string_view number) const {
  const std::uint64_t key = number_key(number);
  if (key == kLongNumber) {
    return static_cast<std::size_t>(
        std::count_if(analysis_.labels.begin(), analysis_.labels.end(),
                      [&](const LineNumberUse& label) { return label.number == number; }));
  }
  const auto [first, last] = std::equal_range(label_keys_.begin(), label_keys_.end(), key);
  return static_cast<std::size_t>(last - first);
}

bool IncrementalAnalysis::is_jumped_to(std::string_view number) const {
  const std::uint64_t key = number_key(number);
  if (key == kLongNumber) {
    return std::any_of(analysis_.jumps.begin(), analysis_.jumps.end(),
                       [&](const LineNumberUse& jump) { return jump.number == number; });
  }
  if (!jump_keys_sorted_) {
    sorted_jump_keys_ = jump_keys_;
    std::sort(sorted_jump_keys_.begin(), sorted_jump_keys_.end());
    jump_keys_sorted_ = true;
  }
  return std::binary_search(sorted_jump_keys_.begin(), sorted_jump_keys_.end(), key);
}

// The map's rows. Those of the head end where the checkpoint stood: an output line that was open
// there ends in the new run, or in the old one's rows kept after the meet.
void IncrementalAnalysis::keep_map(Reading& r, bool keep_old_output) {
  std::vector<MapRow>& map = analysis_.map;
  const LineShift& shift = r.shift;
  const Checkpoint& head = r.head;
  const std::int64_t old_meet_line = r.met ? checkpoints_[r.meet_index].state.line_number + 1 : 0;
  const auto first_of = [](const MapRow& row) { return row.first; };
  std::size_t head_rows = 0;
  bool head_open = false;
  if (r.resumed) {
    if (head.state.stopped_line == 0) {
      head_rows = count_below(map, head.state.line_number + 1, first_of);
      head_open = !head.state.at_line_start;
    } else {
      head_rows = map.size() - (r.old_kept_ends_line ? 2 : 1);
      head_open = !r.old_kept_ends_line;
    }
  }
  const std::size_t tail_rows =
      keep_old_output ? count_below(map, old_meet_line, first_of) : map.size();
  const bool open_at_meet = keep_old_output && !checkpoints_[r.meet_index].state.at_line_start;
  // The output line open at the meet ended after it, or never (its last line is its first).
  const std::int64_t open_row_end =
      open_at_meet && map[tail_rows - 1].last >= old_meet_line ? shift(map[tail_rows - 1].last) : 0;
  const std::size_t middle_rows = r.middle.map.size();
  splice(map, head_rows, tail_rows, r.middle.map, [&](MapRow& row) {
    row.first = shift(row.first);
    row.last = shift(row.last);
  });
  if (head_open) {
    MapRow& row = map[head_rows - 1];
    row.last = r.ended_before != 0 ? r.ended_before : row.first;
  }
  if (open_row_end != 0) map[head_rows + middle_rows - 1].last = open_row_end;
}

void IncrementalAnalysis::keep(std::string_view text, Reading&& r) {
  jump_keys_sorted_ = false;
  std::vector<std::uint64_t>().swap(sorted_jump_keys_);
  const bool met = r.met;
  const std::size_t meet_index = r.meet_index;
  const LineProcessor::Checkpoint& meet_state = r.meet_state;
  const LineShift& shift = r.shift;
  const Checkpoint& head = r.head;
  const std::int64_t lines_before = head.state.line_number;
  const std::size_t old_kept = r.old_kept;
  Analysis& middle = r.middle;
  const std::size_t size = r.size;
  const std::vector<Renumbering>& renumberings = r.renumberings;
  // The sizes of what the lines read gave, taken before their lists are moved into place.
  const ListCounts made = sizes(middle);
  first_line_read_ = lines_before + 1;
  lines_read_ = r.lines - lines_before;

  Analysis& a = analysis_;
  const bool stopped_at_meet = met && meet_state.stopped_line != 0;
  const Checkpoint* const old = met ? &checkpoints_[meet_index] : nullptr;
  const std::int64_t old_meet_line = met ? old->state.line_number + 1 : 0;
  const std::int64_t delta = shift.by;
  const auto byte_delta = static_cast<std::int64_t>(size) - static_cast<std::int64_t>(size_);
  read_from_ = head.offset;
  read_to_ = met ? moved(old->offset, byte_delta) : size;
  const auto counts_moved = [&](std::size_t now, std::size_t then) {
    return static_cast<std::int64_t>(now) - static_cast<std::int64_t>(then);
  };

  // Each list: the head's elements, the lines read's, and the old ones after the meet, moved. A
  // note of the old run about a line before the meet (the line that a joined number's line left
  // open) is placed again in the new text.
  const ListCounts old_end = met ? old->counts : sizes(a);
  update_labels(head.counts[kLabels], old_end[kLabels], middle.labels);
  std::optional<SourceLines> at;  // the new text from the meet on
  for_each_list(
      [&](auto which, auto& list, auto& fresh) {
        splice(list, head.counts[which], old_end[which], fresh, [&](auto& element) {
          if constexpr (std::is_same_v<std::remove_cvref_t<decltype(element)>, KeptDiagnostic>) {
            KeptDiagnostic& d = element;
            const std::int64_t line = d.line;
            move_lines(d, shift);
            if (line < old_meet_line) {
              if (!at) at.emplace(text, moved(old->offset, byte_delta), old_meet_line - 1 + delta);
              d.offset = at->offset(d.line, d.column);
              d.end_offset = d.offset + (d.end_column - d.column);
              d.related_offset = d.related_column != 0 ? at->offset(d.line, d.related_column) : 0;
              return;
            }
          } else {
            move_lines(element, shift);
          }
          move_offsets(element, byte_delta);
        });
      },
      a, middle);
  update_missing(head.counts[kJumps], old_end[kJumps], made[kJumps]);

  const bool keep_old_output = met && !stopped_at_meet;
  if (options_.line_map) keep_map(r, keep_old_output);

  // The output, and where each line's output starts. After the meet the old output goes on,
  // with the line numbers of its messages written anew.
  const std::size_t head_output =
      head.state.stopped_line == 0 ? static_cast<std::size_t>(head.state.output_size) : old_kept;
  const std::size_t middle_output = middle.output.size();
  std::vector<std::pair<std::int64_t, std::int64_t>> growth;  // (old line, bytes added before it)
  std::int64_t output_delta = 0;
  if (keep_old_output) {
    const auto old_meet_output = static_cast<std::size_t>(old->state.output_size);
    output_delta = static_cast<std::int64_t>(head_output + middle_output) -
                   static_cast<std::int64_t>(old_meet_output);
    std::string& out = a.output;
    out.resize(old_kept);
    std::string tail;
    if (delta != 0 && !renumberings.empty()) {
      std::size_t copied = old_meet_output;
      std::int64_t added = 0;
      for (const Renumbering& r : renumberings) {
        if (r.at < old_meet_output) continue;
        tail.append(out, copied, r.at - copied);
        const Decimal line_number(shift(r.line));
        const std::string_view number = line_number.view();
        tail += number;
        copied = r.at + r.length;
        added += static_cast<std::int64_t>(number.size()) - static_cast<std::int64_t>(r.length);
        growth.emplace_back(r.line + 1, added);
      }
      tail.append(out, copied);
      out.resize(head_output);
      out += middle.output;
      out += tail;
    } else {
      out.replace(head_output, old_meet_output - head_output, middle.output);
    }
    if (stopped_line_ != 0) out += line_message(kUnknownTokenMessage, shift(stopped_line_));
  } else if (head_output == 0) {
    a.output.swap(middle.output);
  } else {
    a.output.resize(head_output);
    a.output += middle.output;
  }
  // The bytes that renumbered messages added before old line `line`, asked in rising order.
  std::size_t grown_seen = 0;
  std::int64_t grown_bytes = 0;
  const auto grown = [&](std::int64_t line) {
    while (grown_seen < growth.size() && growth[grown_seen].first <= line)
      grown_bytes = growth[grown_seen++].second;
    return grown_bytes;
  };
  const auto old_lines_before_meet = static_cast<std::size_t>(old_meet_line - 1);
  splice(a.output_start, static_cast<std::size_t>(lines_before),
         keep_old_output ? old_lines_before_meet : a.output_start.size(), middle.output_start,
         [&, line = old_meet_line](std::uint64_t& start) mutable {
           start = static_cast<std::uint64_t>(static_cast<std::int64_t>(start) + output_delta +
                                              grown(line++));
         });
  const std::int64_t total_lines = met ? lines_ + delta : r.lines;
  const std::int64_t stopped = met && !stopped_at_meet ? shift(stopped_line_) : r.end.stopped_line;
  a.output_start.resize(static_cast<std::size_t>(total_lines) + 1, a.output.size());
  if (keep_old_output && stopped != 0)
    std::fill(a.output_start.begin() + stopped, a.output_start.end(), a.output.size());

  // The checkpoints: those before the run, those it made, and the old ones after the meet.
  std::vector<Checkpoint> kept_tail;
  if (met) {
    grown_seen = 0;
    grown_bytes = 0;
    const Checkpoint& then = *old;
    const std::int64_t state_delta = static_cast<std::int64_t>(meet_state.output_size) -
                                     static_cast<std::int64_t>(then.state.output_size);
    std::array<std::int64_t, kKeptLists> counts_moved_by{};
    for (std::size_t k = 0; k < kKeptLists; ++k)
      counts_moved_by[k] = counts_moved(head.counts[k] + made[k], then.counts[k]);
    for (std::size_t i = meet_index; i < checkpoints_.size(); ++i) {
      Checkpoint c = checkpoints_[i];
      const std::int64_t output = state_delta + grown(c.state.line_number + 1);
      c.state.line_number += delta;
      c.offset = moved(c.offset, byte_delta);
      c.state.stopped_line = shift(c.state.stopped_line);
      if (c.state.join.is_open())
        c.state.join.move_to(
            shift(c.state.join.line()),
            static_cast<std::uint64_t>(static_cast<std::int64_t>(c.state.join.end()) + output));
      c.state.output_size =
          static_cast<std::uint64_t>(static_cast<std::int64_t>(c.state.output_size) + output);
      for (std::size_t k = 0; k < kKeptLists; ++k)
        c.counts[k] = moved(c.counts[k], counts_moved_by[k]);
      kept_tail.push_back(std::move(c));
    }
  }
  checkpoints_.resize(r.resumed ? r.from_index + 1 : 0);
  std::move(r.recorded.begin(), r.recorded.end(), std::back_inserter(checkpoints_));
  std::move(kept_tail.begin(), kept_tail.end(), std::back_inserter(checkpoints_));

  // The table at the end, and how the run ended.
  if (met) {
    for (SymbolEntry& row : symbols_) {
      row.line = shift(row.line);
      row.overridden_line = shift(row.overridden_line);
    }
  } else {
    symbols_ = std::move(r.symbols);
  }
  stopped_line_ = stopped;
  lines_ = total_lines;
  size_ = size;
  if (!r.resumed) {
    // The lists of a whole text grew by doubling: what they do not use goes, one at a time.
    trim(a.output);
    trim(a.output_start);
    trim(a.map);
    for_each_list([](auto, auto& list) { trim(list); }, a);
  }
}

}  // namespace vorpex

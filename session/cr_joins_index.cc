#include "session/cr_joins_index.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "engine/cr_joins.h"

namespace vorpex {

namespace {

// Replaces the places of `list` in [from, to) of the old text by `inserted`, and moves those after
// them by `moved` bytes.
void splice(std::vector<std::size_t>& list, std::size_t from, std::size_t to, std::ptrdiff_t moved,
            const std::vector<std::size_t>& inserted) {
  const auto first = std::lower_bound(list.begin(), list.end(), from);
  const auto last = std::lower_bound(first, list.end(), to);
  for (auto it = last; it != list.end(); ++it)
    *it = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(*it) + moved);
  list.insert(list.erase(first, last), inserted.begin(), inserted.end());
}

// Each place of byte `byte` in text[from, to), in order.
template <typename Found>
void each_byte(std::string_view text, std::size_t from, std::size_t to, char byte, Found found) {
  while (from < to) {
    const void* at = std::memchr(text.data() + from, byte, to - from);
    if (at == nullptr) return;
    const auto i = static_cast<std::size_t>(static_cast<const char*>(at) - text.data());
    found(i);
    from = i + 1;
  }
}

}  // namespace

bool CrJoinsIndex::scan(std::string_view text, std::size_t from, std::size_t to,
                        std::vector<std::size_t>& joins, std::vector<std::size_t>& ends) const {
  const std::size_t bound = 1024 + text.size() / 16 / sizeof(std::size_t);
  each_byte(text, from, to, '\r', [&](std::size_t i) {
    if (CrJoins::ends_counted_run(text, i)) joins.push_back(i);
  });
  each_byte(text, from, to, '\x1a', [&](std::size_t i) { ends.push_back(i); });
  return joins_.size() + joins.size() <= bound && ends_.size() + ends.size() <= bound;
}

void CrJoinsIndex::reset(std::string_view text) {
  joins_.clear();
  ends_.clear();
  size_ = text.size();
  whole_ = !scan(text, 0, text.size(), joins_, ends_);
  if (whole_) {
    joins_ = {};
    ends_ = {};
  }
}

void CrJoinsIndex::update(std::string_view text, const TextChange& change) {
  if (!change.changed) return;
  if (whole_) {
    size_ = text.size();
    return;
  }
  const std::size_t common = std::min(size_, text.size());
  const std::size_t prefix = std::min(change.prefix, common);
  const std::size_t suffix = std::min(change.suffix, common - prefix);
  const std::size_t old_end = size_ - suffix;
  const std::size_t new_end = text.size() - suffix;
  const auto moved = static_cast<std::ptrdiff_t>(text.size()) - static_cast<std::ptrdiff_t>(size_);
  // A CR is counted by the byte after it: the byte before the change is read again with it.
  const std::size_t from = prefix == 0 ? 0 : prefix - 1;
  std::vector<std::size_t> joins;
  std::vector<std::size_t> ends;
  if (!scan(text, from, new_end, joins, ends)) {
    reset(text);
    return;
  }
  size_ = text.size();
  splice(joins_, from, old_end, moved, joins);
  splice(ends_, from, old_end, moved, ends);
}

std::optional<KeptDiagnostic> CrJoinsIndex::warning(std::string_view text) const {
  if (whole_) return cr_joins_warning(text);
  // Those before the input's end: a CR just before it ends the input, and is not counted.
  const std::size_t end = ends_.empty() ? text.size() : ends_.front();
  const auto counted = static_cast<std::size_t>(
      std::lower_bound(joins_.begin(), joins_.end(), end == 0 ? 0 : end - 1) - joins_.begin());
  if (counted == 0) return std::nullopt;
  const std::size_t last = joins_.front();
  std::size_t first = last;
  while (first > 0 && text[first - 1] == '\r')
    --first;
  const std::size_t lf = first == 0 ? std::string_view::npos : text.rfind('\n', first - 1);
  const std::size_t line_start = lf == std::string_view::npos ? 0 : lf + 1;
  CrJoins joins;
  joins.count = counted;
  joins.column = first - line_start + 1;
  const auto lines_before =
      std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(line_start), '\n');
  return cr_joins_kept(joins, lines_before + 1, last + 1);
}

}  // namespace vorpex

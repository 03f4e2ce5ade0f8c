#include "engine/symbol_table.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "engine/char_class.h"

namespace vorpex {

namespace {

// Gathers the name eight bytes at a time and mixes each group in with a multiplication; the high
// half of each product is folded back into the low half, so every byte of the name reaches every
// bit of the slot number (names that differ only in their first bytes, such as «AA_SPEED» and
// «AB_SPEED», land apart). Cheap for the short names of a program.
constexpr std::uint64_t kMultiplier = 0xff51afd7ed558ccdull;

// The last, partial group, then a final mix of the whole.
std::uint32_t finish_hash(std::uint64_t h, std::uint64_t group) {
  h = (h ^ group) * kMultiplier;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ull;
  h ^= h >> 33;
  return static_cast<std::uint32_t>(h);
}

std::uint32_t hash_name(std::string_view name, std::uint64_t key) {
  std::uint64_t h = name.size() * 0x9e3779b97f4a7c15ull ^ key;
  std::uint64_t group = 0;
  std::size_t in_group = 0;
  for (char c : name) {
    group = group << 8 | static_cast<unsigned char>(c);
    if (++in_group == 8) {
      h = (h ^ group) * kMultiplier;
      h ^= h >> 32;
      group = 0;
      in_group = 0;
    }
  }
  return finish_hash(h, group);
}

// Eight bytes, the first one highest, as hash_name() gathers them.
std::uint64_t load_group(const char* bytes) {
  std::uint64_t group;
  std::memcpy(&group, bytes, sizeof group);
  if constexpr (std::endian::native == std::endian::little) group = __builtin_bswap64(group);
  return group;
}

// The same hash, eight bytes at a time, for a name followed by at least 7 readable bytes.
std::uint32_t hash_padded_name(std::string_view name, std::uint64_t key) {
  std::uint64_t h = name.size() * 0x9e3779b97f4a7c15ull ^ key;
  std::size_t i = 0;
  for (; i + 8 <= name.size(); i += 8) {
    h = (h ^ load_group(name.data() + i)) * kMultiplier;
    h ^= h >> 32;
  }
  const std::size_t rest = name.size() - i;
  const std::uint64_t group = rest == 0 ? 0 : load_group(name.data() + i) >> (8 * (8 - rest));
  return finish_hash(h, group);
}

// Names are short: a plain loop costs less than a call.
bool same_text(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

}  // namespace

void SymbolTable::clear_symbols() {
  rows_.clear();
  slots_.reset();
  key_ = 0;
  found_value_ = {};
  filter_.fill(0);
}

[[gnu::always_inline]] inline std::size_t SymbolTable::slot_of(std::string_view name,
                                                               std::uint32_t hash) const {
  std::size_t slot = hash & (kSlots - 1);
  for (;;) {
    const Slot& s = slots_[slot];
    if (s.row == 0 || (s.hash == hash && same_text(rows_[s.row - 1].name, name))) return slot;
    slot = (slot + 1) & (kSlots - 1);
  }
}

std::size_t SymbolTable::longest_probe() const {
  std::size_t longest = 0;
  for (const SymbolEntry& row : rows_) {
    const std::uint32_t hash = hash_name(row.name, key_);
    std::size_t probes = 1;
    for (std::size_t slot = hash & (kSlots - 1);
         slots_[slot].hash != hash || rows_[slots_[slot].row - 1].name != row.name;
         slot = (slot + 1) & (kSlots - 1)) {
      ++probes;
    }
    longest = std::max(longest, probes);
  }
  return longest;
}

[[gnu::always_inline]] inline const SymbolEntry* SymbolTable::row_of(std::string_view name,
                                                                     std::uint32_t hash) const {
  if (rows_.empty()) return nullptr;
  const std::uint16_t row = slots_[slot_of(name, hash)].row;
  return row == 0 ? nullptr : &rows_[row - 1];
}

bool SymbolTable::take(const SymbolEntry* entry) {
  if (entry == nullptr) return false;
  found_value_ = entry->value;
  return true;
}

bool SymbolTable::find_upper(std::string_view name) {
  return take(row_of(name, hash_name(name, key_)));
}

bool SymbolTable::find_upper_padded(std::string_view name) {
  return take(row_of(name, hash_padded_name(name, key_)));
}

const SymbolEntry* SymbolTable::entry_of(std::string_view name) const {
  return row_of(name, hash_name(name, key_));
}

void SymbolTable::mark_overridden(std::string_view name, std::int64_t line) {
  if (const SymbolEntry* entry = entry_of(name))
    rows_[static_cast<std::size_t>(entry - rows_.data())].overridden_line = line;
}

bool SymbolTable::add_symbol(std::span<char> name, std::span<char> value, std::int64_t line) {
  char_class::to_upper_in_place(name);
  char_class::to_upper_in_place(value);
  const std::string_view key(name.data(), name.size());
  if (rows_.size() == kCapacity) return false;
  if (!slots_) {
    rows_.reserve(kCapacity);
    slots_ = std::make_unique<Slot[]>(kSlots);
  }
  const std::uint32_t hash = hash_name(key, key_);
  const std::size_t slot = slot_of(key, hash);
  if (slots_[slot].row != 0) return false;
  rows_.push_back(SymbolEntry{std::string(key), std::string(value.data(), value.size()), line});
  if (!key.empty()) {
    const std::size_t bit = filter_bit(key.size(), key.front(), key.back());
    filter_[bit / 64] |= std::uint64_t{1} << (bit % 64);
  }
  slots_[slot] = Slot{hash, static_cast<std::uint16_t>(rows_.size())};
  // Names that the hash sends to the same few slots (found by trying names against it) would make
  // every lookup of a word walk them all: past kLongestRun slots in a row, every name is hashed
  // again with another key, up to kKeys of them, which such names cannot all have been made for.
  std::size_t longest = run_at(slot);
  for (std::size_t tries = 1; longest > kLongestRun && tries < kKeys; ++tries)
    longest = rehash(key_ + 0x9e3779b97f4a7c15ull);
  return true;
}

std::size_t SymbolTable::run_at(std::size_t slot) const {
  std::size_t length = 1;
  for (std::size_t s = (slot + 1) & (kSlots - 1); slots_[s].row != 0 && length <= kLongestRun;
       s = (s + 1) & (kSlots - 1))
    ++length;
  for (std::size_t s = (slot - 1) & (kSlots - 1); slots_[s].row != 0 && length <= kLongestRun;
       s = (s - 1) & (kSlots - 1))
    ++length;
  return length;
}

std::size_t SymbolTable::first_slot(std::string_view name) {
  return hash_name(name, 0) & (kSlots - 1);
}

std::size_t SymbolTable::rehash(std::uint64_t key) {
  // The key's own bits mixed, so that keys one step apart share no pattern.
  key = (key ^ (key >> 31)) * 0xbf58476d1ce4e5b9ull;
  key_ = key ^ (key >> 29);
  std::fill(slots_.get(), slots_.get() + kSlots, Slot{});
  std::size_t longest = 0;
  for (std::size_t row = 0; row < rows_.size(); ++row) {
    const std::uint32_t hash = hash_name(rows_[row].name, key_);
    const std::size_t slot = slot_of(rows_[row].name, hash);
    slots_[slot] = Slot{hash, static_cast<std::uint16_t>(row + 1)};
    // A run only grows when a name lands beside it, and that name sees the whole run.
    longest = std::max(longest, run_at(slot));
  }
  return longest;
}

}  // namespace vorpex

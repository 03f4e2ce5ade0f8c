#include "engine/symbol_table.h"

#include "engine/char_class.h"

namespace vorpex {

namespace {

// FNV-1a: cheap for the short names of a program, and well spread over the slots.
std::uint64_t hash_name(std::string_view name) {
  std::uint64_t h = 14695981039346656037ull;
  for (char c : name) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ull;
  }
  return h ^ (h >> 32);
}

}  // namespace

void SymbolTable::clear_symbols() {
  rows_.clear();
  rows_.reserve(kCapacity);
  slots_.fill(0);
  found_value_ = {};
}

std::size_t SymbolTable::slot_of(std::string_view name) const {
  std::size_t slot = hash_name(name) & (kSlots - 1);
  while (slots_[slot] != 0 && rows_[slots_[slot] - 1].name != name)
    slot = (slot + 1) & (kSlots - 1);
  return slot;
}

bool SymbolTable::find_symbol(std::span<char> name) {
  char_class::to_upper_in_place(name);
  if (rows_.empty()) return false;
  const std::uint16_t row = slots_[slot_of({name.data(), name.size()})];
  if (row == 0) return false;
  found_value_ = rows_[row - 1].value;
  return true;
}

bool SymbolTable::add_symbol(std::span<char> name, std::span<char> value) {
  char_class::to_upper_in_place(name);
  char_class::to_upper_in_place(value);
  const std::string_view key(name.data(), name.size());
  if (rows_.size() == kCapacity) return false;
  const std::size_t slot = slot_of(key);
  if (slots_[slot] != 0) return false;
  rows_.push_back(SymbolEntry{std::string(key), std::string(value.data(), value.size())});
  slots_[slot] = static_cast<std::uint16_t>(rows_.size());
  return true;
}

}  // namespace vorpex

#include "engine/symbol_table.h"

#include "engine/char_class.h"

namespace vorpex {

void SymbolTable::clear_symbols() {
  index_.clear();
  rows_.clear();
  rows_.reserve(kCapacity);
  index_.reserve(kCapacity);
  found_value_ = {};
}

bool SymbolTable::find_symbol(std::span<char> name) {
  char_class::to_upper_in_place(name);
  const auto it = index_.find(std::string_view(name.data(), name.size()));
  if (it == index_.end()) return false;
  found_value_ = rows_[it->second].value;
  return true;
}

bool SymbolTable::add_symbol(std::span<char> name, std::span<char> value) {
  char_class::to_upper_in_place(name);
  char_class::to_upper_in_place(value);
  const std::string_view key(name.data(), name.size());
  if (rows_.size() == kCapacity || index_.contains(key)) return false;
  const SymbolEntry& row =
      rows_.emplace_back(SymbolEntry{std::string(key), std::string(value.data(), value.size())});
  index_.emplace(row.name, rows_.size() - 1);
  return true;
}

}  // namespace vorpex

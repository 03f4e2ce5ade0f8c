#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "engine/char_class.h"
#include "engine/symbol_table.h"

// What the engine's tests look at beyond its public interface.
namespace vorpex {

// True for space and TAB.
inline bool is_blank(char c) {
  return char_class::has(c, char_class::kBlank);
}
// True for the bytes that end a Number or Word: the operators, the blanks, CR, LF and NUL.
inline bool is_delimiter(char c) {
  return char_class::has(c, char_class::kTerminator);
}

struct SymbolTableProbe {
  // Upper-cases `name` in place and looks it up, as the line processor's words are.
  static bool find_symbol(SymbolTable& table, std::span<char> name) {
    char_class::to_upper_in_place(name);
    return table.find_upper({name.data(), name.size()});
  }
  static void clear(SymbolTable& table) { table.clear_symbols(); }
  static std::size_t longest_probe(const SymbolTable& table) { return table.longest_probe(); }
  static std::size_t first_slot(std::string_view name) { return SymbolTable::first_slot(name); }
};

}  // namespace vorpex

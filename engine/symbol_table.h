#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vorpex {

// One defined constant: its name and its value, both stored upper-cased and whole, and the input
// line that defined it (0 when it was defined before the input).
struct SymbolEntry {
  std::string name;
  std::string value;
  std::int64_t line = 0;
  // For a name defined before the input: the line of the source's own DEFINE of it, which the
  // earlier value overrode (0 for none yet).
  std::int64_t overridden_line = 0;
};

// The constants declared so far, for the rest of the run. Rows are only ever added, in order, up
// to kCapacity of them; a name can be defined once. Names are indexed by an open-addressing hash
// table at most a quarter full whose runs of filled slots are kept short by hashing the names again
// with another key, so a lookup costs the same however many rows are in use, whatever the names.
class SymbolTable {
 public:
  static constexpr std::size_t kCapacity = 1000;

  SymbolTable() { clear_symbols(); }
  SymbolTable(const SymbolTable&) = delete;
  SymbolTable& operator=(const SymbolTable&) = delete;

  // Looks up a name that is upper-case already; on a match sets found_value() and returns true,
  // otherwise returns false and leaves found_value() as it was.
  bool find_upper(std::string_view name);
  // The same for a name followed by at least 7 readable bytes, which the hash reads a group of
  // eight at a time.
  bool find_upper_padded(std::string_view name);

  // Upper-cases `name` and `value` in place and adds them as a new row, defined on `line`. Returns
  // false, and changes nothing else, when the name exists already or every row is in use.
  bool add_symbol(std::span<char> name, std::span<char> value, std::int64_t line = 0);
  // The row of a name given in upper case, or null; found_value() is left as it was.
  const SymbolEntry* entry_of(std::string_view name) const;
  // Notes that the source's DEFINE on `line` of `name` (upper case), defined before the input,
  // was overridden by the earlier value.
  void mark_overridden(std::string_view name, std::int64_t line);

  // False when no name defined so far has `length` bytes, `first` first and `last` last (both
  // upper-cased), so that a lookup can be spared; true when one may.
  bool may_hold(std::size_t length, char first, char last) const {
    const std::size_t bit = filter_bit(length, first, last);
    return ((filter_[bit / 64] >> (bit % 64)) & 1) != 0;
  }

  // The value of the row matched by the last successful lookup; valid for the table's lifetime.
  std::string_view found_value() const { return found_value_; }
  std::size_t size() const { return rows_.size(); }
  // Every row, in the order they were added.
  std::span<const SymbolEntry> rows() const { return rows_; }
  bool empty() const { return rows_.empty(); }

 private:
  friend struct SymbolTableProbe;  // the tests' view of the hashing

  // Empties the table.
  void clear_symbols();
  // The most slots any defined name's lookup visits: 1 when no two names collide.
  std::size_t longest_probe() const;

  static constexpr std::size_t kSlots = 4096;
  // The most slots in a row that names may fill before they are hashed with another key, and the
  // keys tried: lookups stay bounded whatever the names.
  static constexpr std::size_t kLongestRun = 24;
  static constexpr std::size_t kKeys = 16;

  // The filled slots in the run that holds `slot`, counted up to kLongestRun + 1.
  std::size_t run_at(std::size_t slot) const;
  // The slot where the table's first key sends `name`: for the tests, to make names collide.
  static std::size_t first_slot(std::string_view name);
  // Hashes every name again with a key made from `key`; returns the longest run of filled slots.
  std::size_t rehash(std::uint64_t key);
  static constexpr std::size_t kFilterBits = 32768;

  static std::size_t filter_bit(std::size_t length, char first, char last) {
    const std::uint32_t h = static_cast<std::uint32_t>(length) * 0x9E3779B1u ^
                            static_cast<unsigned char>(first) * 0x85EBCA77u ^
                            static_cast<unsigned char>(last) * 0xC2B2AE3Du;
    return (h >> 16) % kFilterBits;
  }  // a power of two, at least twice kCapacity

  struct Slot {
    std::uint32_t hash = 0;  // of the name, so most mismatches are told without reading the row
    std::uint16_t row = 0;   // row number + 1; 0 marks an empty slot
  };

  // The row of `name`, whose hash is `hash`, or null.
  inline const SymbolEntry* row_of(std::string_view name, std::uint32_t hash) const;
  // Makes `entry`'s value the found value; false, changing nothing, for null.
  bool take(const SymbolEntry* entry);
  // The slot that holds `name`, or the empty slot where it would go.
  inline std::size_t slot_of(std::string_view name, std::uint32_t hash) const;

  // The slots and the rows' capacity come with the first add_symbol(): a run that defines nothing
  // neither clears nor touches the 32 KiB of slots (a sixth of the instructions of a whole run on a
  // file of 10 KiB).
  std::vector<SymbolEntry> rows_;  // kCapacity reserved then: rows never move
  std::unique_ptr<Slot[]> slots_;  // kSlots of them, all empty at first
  std::string_view found_value_;
  std::uint64_t key_ = 0;  // mixed into every name's hash; changed when names crowd the slots
  std::array<std::uint64_t, kFilterBits / 64> filter_{};  // a bit for each name defined
};

}  // namespace vorpex

#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vorpex {

// How an editor counts the characters of a line: bytes of UTF-8, or UTF-16 code units.
enum class Encoding { Utf8, Utf16 };

// A place as editors give it: a line and a character, both from 0.
struct TextPosition {
  std::int64_t line = 0;
  std::int64_t character = 0;
  bool operator==(const TextPosition&) const = default;
};

struct TextRange {
  TextPosition start;
  TextPosition end;
  bool operator==(const TextRange&) const = default;
};

// The lines of a text as an editor sees them, which is not how the conversion reads it: a line
// ends at LF, at CR LF, or at a CR alone. Characters are read as utf8::next_character reads them,
// so a byte that is not UTF-8 counts as the editor shows it. The index holds a view of the text:
// the text must outlive it and stay unchanged.
class LineIndex {
 public:
  LineIndex() : LineIndex(std::string_view()) {}
  explicit LineIndex(std::string_view text);

  // The index of `text`, the text indexed before with `removed` bytes at `from` replaced by
  // `inserted` others: only the lines around the edit are read again.
  void edit(std::string_view text, std::size_t from, std::size_t removed, std::size_t inserted);

  std::string_view text() const { return text_; }
  std::size_t line_count() const { return starts_.size(); }
  // Where line `line` (from 0) starts; the text's size past the last line.
  std::size_t line_start(std::size_t line) const {
    return line < starts_.size() ? starts_[line] : text_.size();
  }
  // Line `line` without its line end; empty past the last line.
  std::string_view line_text(std::size_t line) const {
    if (line >= starts_.size()) return {};
    const std::size_t start = starts_[line];
    std::size_t end = line + 1 < starts_.size() ? starts_[line + 1] : text_.size();
    if (end > start && text_[end - 1] == '\n') --end;
    if (end > start && text_[end - 1] == '\r') --end;
    return text_.substr(start, end - start);
  }
  // The line (from 0) that holds byte `offset`; the line end's bytes belong to their line.
  std::size_t line_of(std::size_t offset) const;

  // The position of byte `offset` (clamped to the text). An offset inside a character, or inside
  // a line end, stands for the start of that character or the end of the line.
  TextPosition position(std::size_t offset, Encoding encoding) const;
  // The range of the bytes [from, to), kept on the line where it starts: it never ends before it
  // starts nor runs past that line's end, and never splits a character.
  TextRange range(std::size_t from, std::size_t to, Encoding encoding) const;
  // The same where the caller knows the line that holds `from` (a reader of offsets in order,
  // which walks the lines itself).
  TextRange range_on(std::size_t line, std::size_t from, std::size_t to, Encoding encoding) const {
    from = std::min(from, text_.size());
    if (!ascii_[line]) return range_walked(line, from, to, encoding);
    // A byte is a character, in either count.
    const std::size_t size = line_text(line).size();
    const auto first = static_cast<std::int64_t>(std::min(from - starts_[line], size));
    const auto last = static_cast<std::int64_t>(std::min(std::max(to, from) - starts_[line], size));
    const auto at = static_cast<std::int64_t>(line);
    return {{at, first}, {at, std::max(first, last)}};
  }
  // The byte offset of `position`; a character past the line's end stands for the end, and one
  // inside a character for its start. Empty for a negative number or a line past the last.
  std::optional<std::size_t> offset(TextPosition position, Encoding encoding) const;

  // The bytes the index holds.
  std::size_t memory() const {
    return starts_.capacity() * sizeof(starts_[0]) + ascii_.capacity() / 8;
  }

 private:
  // range_on() on a line that holds other bytes than ASCII.
  TextRange range_walked(std::size_t line, std::size_t from, std::size_t to,
                         Encoding encoding) const;
  // The byte of the position that is `units` UTF-16 units into line `line` (whose text is
  // `text`), counted from the nearest checkpoint of a long line.
  std::size_t column_of_units(std::size_t line, std::string_view text, std::int64_t units) const;
  // Every kBlock bytes of a long line that is not all ASCII: where the first character at or
  // after the block's start begins, and the UTF-16 units before it. Made on first use.
  struct Checkpoint {
    std::size_t column;
    std::int64_t units;
  };
  const std::vector<Checkpoint>& checkpoints(std::size_t line, std::string_view text) const;
  // Where the character that holds byte `column` of line `line` starts, and the UTF-16 units
  // before it, counted from the nearest checkpoint.
  Checkpoint walk_to(std::size_t line, std::string_view text, std::size_t column) const;
  static constexpr std::size_t kBlock = 256;
  // Reads the lines of the text's bytes [begin, end), the first of them starting at `begin`: adds
  // where each next one starts, and whether each holds only ASCII (the last one's too when `end`
  // is the text's end).
  void scan(std::size_t begin, std::size_t end, std::vector<std::size_t>& starts,
            std::vector<bool>& ascii) const;

  std::string_view text_;
  std::vector<std::size_t> starts_;
  std::vector<bool> ascii_;  // each line holds only ASCII bytes: a byte is a character
  mutable std::unordered_map<std::size_t, std::vector<Checkpoint>> checkpoints_;
};

// UTF-16 offsets from the start of a text, for editors that address the whole text that way.
// Asked in rising order, all the answers together cost one pass over the text.
class Utf16Offsets {
 public:
  explicit Utf16Offsets(std::string_view text) : text_(text) {}
  // The UTF-16 units before byte `offset` (clamped; inside a character: its start).
  std::int64_t at(std::size_t offset);

 private:
  std::string_view text_;
  std::size_t bytes_ = 0;
  std::int64_t units_ = 0;
};

// How many characters `bytes` counts in `encoding`.
std::int64_t count_characters(std::string_view bytes, Encoding encoding);

}  // namespace vorpex

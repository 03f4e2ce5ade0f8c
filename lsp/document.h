#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorpex::lsp {

// How a position's character counts: bytes of UTF-8, or UTF-16 code units.
enum class Encoding { Utf8, Utf16 };

// A place as the protocol gives it: a line and a character, both from 0.
struct Position {
  std::int64_t line = 0;
  std::int64_t character = 0;
};

// The text of an open document and the start of each of its lines. Lines end at LF; a CR before
// the LF is not part of the line. The text may hold any bytes: a byte that is not part of valid
// UTF-8 counts as one character in either encoding.
class Document {
 public:
  explicit Document(std::string text = {}) { set_text(std::move(text)); }

  void set_text(std::string text);
  const std::string& text() const { return text_; }
  std::size_t line_count() const { return starts_.size(); }
  // Line `line` (from 0) without its line end; empty past the last line.
  std::string_view line_text(std::size_t line) const;

  // The byte offset of `position`; a character past the line's end stands for its end. Empty
  // when the line does not exist, or a number is negative.
  std::optional<std::size_t> offset(Position position, Encoding encoding) const;
  // The character at 1-based byte `column` of 1-based `line`, clamped to the line's end.
  std::int64_t character(std::int64_t line, std::size_t column, Encoding encoding) const;
  // The 1-based byte column of a position on its line; empty as for offset().
  std::optional<std::size_t> byte_column(Position position, Encoding encoding) const;

  // Replaces the text between two positions (each clamped to the document) by `text`. False when
  // a position is malformed (negative) or the end comes before the start.
  bool replace(Position start, Position end, std::string_view text, Encoding encoding);

  // The bytes held for the document.
  std::size_t memory() const { return text_.capacity() + starts_.capacity() * sizeof(starts_[0]); }

 private:
  // The offset of a position clamped into the document.
  std::size_t clamped_offset(Position position, Encoding encoding) const;

  std::string text_;
  std::vector<std::uint32_t> starts_;
};

// How many characters `bytes` counts in `encoding`.
std::int64_t count_characters(std::string_view bytes, Encoding encoding);

}  // namespace vorpex::lsp

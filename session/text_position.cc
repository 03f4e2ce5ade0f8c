#include "session/text_position.h"

#include <algorithm>

#include "engine/utf8.h"

namespace vorpex {

std::int64_t count_characters(std::string_view bytes, Encoding encoding) {
  if (encoding == Encoding::Utf8) return static_cast<std::int64_t>(bytes.size());
  return utf8::utf16_length(bytes);
}

LineIndex::LineIndex(std::string_view text) : text_(text) {
  starts_.push_back(0);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      starts_.push_back(i + 1);
    } else if (c == '\n') {
      starts_.push_back(i + 1);
    }
  }
}

std::size_t LineIndex::line_start(std::size_t line) const {
  return line < starts_.size() ? starts_[line] : text_.size();
}

std::string_view LineIndex::line_text(std::size_t line) const {
  if (line >= starts_.size()) return {};
  const std::size_t start = starts_[line];
  std::size_t end = line + 1 < starts_.size() ? starts_[line + 1] : text_.size();
  if (end > start && text_[end - 1] == '\n') --end;
  if (end > start && text_[end - 1] == '\r') --end;
  return text_.substr(start, end - start);
}

std::size_t LineIndex::line_of(std::size_t offset) const {
  const auto after = std::upper_bound(starts_.begin(), starts_.end(), offset);
  return static_cast<std::size_t>(after - starts_.begin()) - 1;
}

namespace {

// The bytes of the whole characters of `line` that fit in its first `bytes` bytes.
std::size_t whole_characters(std::string_view line, std::size_t bytes) {
  bytes = std::min(bytes, line.size());
  std::size_t at = 0;
  while (at < bytes) {
    const std::size_t next = at + utf8::next_character(line.substr(at)).bytes;
    if (next > bytes) break;
    at = next;
  }
  return at;
}

}  // namespace

TextPosition LineIndex::position(std::size_t offset, Encoding encoding) const {
  offset = std::min(offset, text_.size());
  const std::size_t line = line_of(offset);
  const std::string_view text = line_text(line);
  const std::size_t column = whole_characters(text, offset - starts_[line]);
  return {static_cast<std::int64_t>(line), count_characters(text.substr(0, column), encoding)};
}

TextRange LineIndex::range(std::size_t from, std::size_t to, Encoding encoding) const {
  from = std::min(from, text_.size());
  const std::size_t line = line_of(from);
  const std::size_t line_end = starts_[line] + line_text(line).size();
  const TextPosition start = position(from, encoding);
  // The end: at least the start, at most the line's end, and past the character it falls in.
  std::size_t end = std::clamp(to, from, std::max(from, line_end));
  const std::string_view text = line_text(line);
  const std::size_t column = std::min(end, line_end) - starts_[line];
  std::size_t whole = whole_characters(text, column);
  if (whole < column) whole += utf8::next_character(text.substr(whole)).bytes;
  end = starts_[line] + whole;
  TextPosition stop{start.line, count_characters(text.substr(0, whole), encoding)};
  if (end <= from) stop = start;
  return {start, stop};
}

std::optional<std::size_t> LineIndex::offset(TextPosition position, Encoding encoding) const {
  if (position.line < 0 || position.character < 0 ||
      static_cast<std::uint64_t>(position.line) >= starts_.size())
    return std::nullopt;
  const auto line = static_cast<std::size_t>(position.line);
  const std::string_view text = line_text(line);
  if (encoding == Encoding::Utf8) {
    const auto wanted = static_cast<std::size_t>(
        std::min<std::int64_t>(position.character, static_cast<std::int64_t>(text.size())));
    return starts_[line] + whole_characters(text, wanted);
  }
  std::size_t bytes = 0;
  std::int64_t units = 0;
  while (bytes < text.size()) {
    const utf8::Character c = utf8::next_character(text.substr(bytes));
    if (units + c.utf16_units() > position.character) break;
    units += c.utf16_units();
    bytes += c.bytes;
  }
  return starts_[line] + bytes;
}

std::int64_t Utf16Offsets::at(std::size_t offset) {
  offset = std::min(offset, text_.size());
  if (offset < bytes_) {
    bytes_ = 0;
    units_ = 0;
  }
  while (bytes_ < offset) {
    const utf8::Character c = utf8::next_character(text_.substr(bytes_));
    if (bytes_ + c.bytes > offset) break;
    bytes_ += c.bytes;
    units_ += c.utf16_units();
  }
  return units_;
}

}  // namespace vorpex

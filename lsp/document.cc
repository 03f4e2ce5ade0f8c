#include "lsp/document.h"

#include <algorithm>

namespace vorpex::lsp {

namespace {

// The length of the UTF-8 sequence at the start of `bytes` and the UTF-16 units it counts; a
// byte that begins no valid sequence is one byte and one unit.
struct Step {
  std::size_t bytes;
  std::int64_t units;
};

Step step(std::string_view bytes) {
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = b(0);
  std::size_t length = 1;
  std::uint32_t min = 0;
  if (lead < 0x80) return {1, 1};
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    min = 0x10000;
  } else {
    return {1, 1};
  }
  if (bytes.size() < length) return {1, 1};
  std::uint32_t code = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((b(i) & 0xC0) != 0x80) return {1, 1};
    code = (code << 6) | (b(i) & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return {1, 1};
  return {length, code >= 0x10000 ? 2 : 1};
}

}  // namespace

std::int64_t count_characters(std::string_view bytes, Encoding encoding) {
  if (encoding == Encoding::Utf8) return static_cast<std::int64_t>(bytes.size());
  std::int64_t units = 0;
  while (!bytes.empty()) {
    const Step s = step(bytes);
    units += s.units;
    bytes.remove_prefix(s.bytes);
  }
  return units;
}

void Document::set_text(std::string text) {
  text_ = std::move(text);
  starts_.clear();
  starts_.push_back(0);
  for (std::size_t at = text_.find('\n'); at != std::string::npos; at = text_.find('\n', at + 1))
    starts_.push_back(static_cast<std::uint32_t>(at + 1));
}

std::string_view Document::line_text(std::size_t line) const {
  if (line >= starts_.size()) return {};
  const std::size_t start = starts_[line];
  std::size_t end = line + 1 < starts_.size() ? starts_[line + 1] - 1 : text_.size();
  if (end > start && text_[end - 1] == '\r') --end;
  return std::string_view(text_).substr(start, end - start);
}

std::optional<std::size_t> Document::byte_column(Position position, Encoding encoding) const {
  if (position.line < 0 || position.character < 0 ||
      static_cast<std::uint64_t>(position.line) >= starts_.size())
    return std::nullopt;
  std::string_view line = line_text(static_cast<std::size_t>(position.line));
  if (encoding == Encoding::Utf8)
    return std::min<std::size_t>(static_cast<std::size_t>(position.character), line.size()) + 1;
  std::size_t bytes = 0;
  std::int64_t units = 0;
  while (bytes < line.size()) {
    const Step s = step(line.substr(bytes));
    // A position inside a character stands for its start.
    if (units + s.units > position.character) break;
    units += s.units;
    bytes += s.bytes;
  }
  return bytes + 1;
}

std::optional<std::size_t> Document::offset(Position position, Encoding encoding) const {
  const std::optional<std::size_t> column = byte_column(position, encoding);
  if (!column) return std::nullopt;
  return starts_[static_cast<std::size_t>(position.line)] + *column - 1;
}

std::int64_t Document::character(std::int64_t line, std::size_t column, Encoding encoding) const {
  if (line < 1 || column < 1) return 0;
  const std::string_view text = line_text(static_cast<std::size_t>(line - 1));
  return count_characters(text.substr(0, std::min(column - 1, text.size())), encoding);
}

std::size_t Document::clamped_offset(Position position, Encoding encoding) const {
  if (static_cast<std::uint64_t>(position.line) >= starts_.size()) return text_.size();
  return *offset(position, encoding);
}

bool Document::replace(Position start, Position end, std::string_view text, Encoding encoding) {
  if (start.line < 0 || start.character < 0 || end.line < 0 || end.character < 0) return false;
  const std::size_t from = clamped_offset(start, encoding);
  const std::size_t to = clamped_offset(end, encoding);
  if (to < from) return false;
  std::string updated;
  updated.reserve(text_.size() - (to - from) + text.size());
  updated.append(text_, 0, from);
  updated.append(text);
  updated.append(text_, to);
  set_text(std::move(updated));
  return true;
}

}  // namespace vorpex::lsp

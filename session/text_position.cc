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
  scan(0, text.size(), starts_, ascii_);
  // A large text's index is kept as long as its document is open: no room to spare.
  if (starts_.capacity() > starts_.size() + starts_.size() / 8 + 64) starts_.shrink_to_fit();
}

void LineIndex::scan(std::size_t begin, std::size_t end, std::vector<std::size_t>& starts,
                     std::vector<bool>& ascii_lines) const {
  const std::string_view text = text_;
  bool ascii = true;
  for (std::size_t i = begin; i < end; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c > '\r') {
      ascii = ascii && c < 0x80;
      continue;
    }
    if (c == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (c != '\n') {
      continue;
    }
    starts.push_back(i + 1);
    ascii_lines.push_back(ascii);
    ascii = true;
  }
  if (end == text.size()) ascii_lines.push_back(ascii);
}

void LineIndex::edit(std::string_view text, std::size_t from, std::size_t removed,
                     std::size_t inserted) {
  // The lines read again: from the one before the edit's first byte (a CR there may become the
  // first half of a CR LF), to the end of the one that holds the byte after the edit. The line
  // end that follows them lies after the edit, so the lines after them only move.
  const std::size_t first = line_of(from == 0 ? 0 : from - 1);
  const std::size_t last = line_of(from + removed);
  const std::size_t begin = starts_[first];
  const bool to_end = last + 1 >= starts_.size();
  const std::size_t end = to_end ? text.size() : starts_[last + 1] - removed + inserted;
  text_ = text;
  checkpoints_.clear();
  std::vector<std::size_t> starts;
  std::vector<bool> ascii;
  scan(begin, end, starts, ascii);
  if (!to_end) {
    if (starts.empty() || starts.back() != end) {
      *this = LineIndex(text);  // not the lines expected: read them all
      return;
    }
    starts.pop_back();
  }
  const auto moved = static_cast<std::ptrdiff_t>(inserted) - static_cast<std::ptrdiff_t>(removed);
  for (std::size_t i = last + 1; i < starts_.size(); ++i)
    starts_[i] = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(starts_[i]) + moved);
  const auto at = [](auto& list, std::size_t index) {
    return list.begin() + static_cast<std::ptrdiff_t>(index);
  };
  starts_.erase(at(starts_, first + 1), at(starts_, last + 1));
  starts_.insert(at(starts_, first + 1), starts.begin(), starts.end());
  ascii_.erase(at(ascii_, first), to_end ? ascii_.end() : at(ascii_, last + 1));
  ascii_.insert(at(ascii_, first), ascii.begin(), ascii.end());
}

const std::vector<LineIndex::Checkpoint>& LineIndex::checkpoints(std::size_t line,
                                                                 std::string_view text) const {
  auto [found, made] = checkpoints_.try_emplace(line);
  if (!made) return found->second;
  std::vector<Checkpoint>& list = found->second;
  std::size_t at = 0;
  std::int64_t units = 0;
  for (std::size_t block = 0; block < text.size(); block += kBlock) {
    while (at < block) {
      const utf8::Character c = utf8::next_character(text.substr(at));
      at += c.bytes;
      units += c.utf16_units();
    }
    list.push_back({at, units});
  }
  return list;
}

LineIndex::Checkpoint LineIndex::walk_to(std::size_t line, std::string_view text,
                                         std::size_t column) const {
  column = std::min(column, text.size());
  if (ascii_[line]) return {column, static_cast<std::int64_t>(column)};
  Checkpoint at{0, 0};
  if (text.size() > kBlock) {
    const std::vector<Checkpoint>& list = checkpoints(line, text);
    std::size_t k = std::min(column / kBlock, list.size() - 1);
    while (k > 0 && list[k].column > column)
      --k;
    at = list[k];
  }
  while (at.column < column) {
    const utf8::Character c = utf8::next_character(text.substr(at.column));
    if (at.column + c.bytes > column) break;
    at.column += c.bytes;
    at.units += c.utf16_units();
  }
  return at;
}

std::size_t LineIndex::column_of_units(std::size_t line, std::string_view text,
                                       std::int64_t units) const {
  if (ascii_[line])
    return static_cast<std::size_t>(
        std::min<std::int64_t>(units, static_cast<std::int64_t>(text.size())));
  std::size_t at = 0;
  std::int64_t counted = 0;
  if (text.size() > kBlock) {
    const std::vector<Checkpoint>& list = checkpoints(line, text);
    const auto after = std::upper_bound(
        list.begin(), list.end(), units,
        [](std::int64_t wanted, const Checkpoint& point) { return wanted < point.units; });
    if (after != list.begin()) {
      at = std::prev(after)->column;
      counted = std::prev(after)->units;
    }
  }
  while (at < text.size()) {
    const utf8::Character c = utf8::next_character(text.substr(at));
    // A position inside a character stands for its start.
    if (counted + c.utf16_units() > units) break;
    counted += c.utf16_units();
    at += c.bytes;
  }
  return at;
}

std::size_t LineIndex::line_of(std::size_t offset) const {
  const auto after = std::upper_bound(starts_.begin(), starts_.end(), offset);
  return static_cast<std::size_t>(after - starts_.begin()) - 1;
}

TextPosition LineIndex::position(std::size_t offset, Encoding encoding) const {
  offset = std::min(offset, text_.size());
  const std::size_t line = line_of(offset);
  const std::string_view text = line_text(line);
  const Checkpoint at = walk_to(line, text, offset - starts_[line]);
  return {static_cast<std::int64_t>(line),
          encoding == Encoding::Utf16 ? at.units : static_cast<std::int64_t>(at.column)};
}

TextRange LineIndex::range(std::size_t from, std::size_t to, Encoding encoding) const {
  from = std::min(from, text_.size());
  return range_on(line_of(from), from, to, encoding);
}

TextRange LineIndex::range_walked(std::size_t line, std::size_t from, std::size_t to,
                                  Encoding encoding) const {
  const std::string_view text = line_text(line);
  const Checkpoint at = walk_to(line, text, from - starts_[line]);
  const TextPosition start{
      static_cast<std::int64_t>(line),
      encoding == Encoding::Utf16 ? at.units : static_cast<std::int64_t>(at.column)};
  // The end: at least the start, at most the line's end, and past the character it falls in.
  const std::size_t first = std::min(from - starts_[line], text.size());
  const std::size_t last = std::min(std::max(to, from) - starts_[line], text.size());
  Checkpoint end = walk_to(line, text, last);
  if (end.column < last) {
    const utf8::Character c = utf8::next_character(text.substr(end.column));
    end.column += c.bytes;
    end.units += c.utf16_units();
  }
  if (end.column <= first) return {start, start};
  return {start,
          {start.line,
           encoding == Encoding::Utf16 ? end.units : static_cast<std::int64_t>(end.column)}};
}

std::optional<std::size_t> LineIndex::offset(TextPosition position, Encoding encoding) const {
  if (position.line < 0 || position.character < 0 ||
      static_cast<std::uint64_t>(position.line) >= starts_.size())
    return std::nullopt;
  const auto line = static_cast<std::size_t>(position.line);
  const std::string_view text = line_text(line);
  if (encoding == Encoding::Utf16)
    return starts_[line] + column_of_units(line, text, position.character);
  const auto wanted = static_cast<std::size_t>(
      std::min<std::int64_t>(position.character, static_cast<std::int64_t>(text.size())));
  return starts_[line] + walk_to(line, text, wanted).column;
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

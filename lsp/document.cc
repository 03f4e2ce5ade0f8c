#include "lsp/document.h"

#include <algorithm>

namespace vorpex::lsp {

bool Document::replace(Position start, Position end, std::string_view text, Encoding encoding) {
  if (start.line < 0 || start.character < 0 || end.line < 0 || end.character < 0) return false;
  // A position past the last line stands for the end of the document.
  const auto clamped = [&](Position position) {
    return index_.offset(position, encoding).value_or(text_.size());
  };
  const std::size_t from = clamped(start);
  const std::size_t to = clamped(end);
  if (to < from) return false;
  change_.add(text_.size(), from, to);
  const std::size_t size = text_.size() - (to - from) + text.size();
  if (size > text_.capacity()) {
    // A text grown past its room gets an eighth more, not twice the room: a large document is
    // not held twice over.
    std::string grown;
    grown.reserve(size + size / 8);
    grown.append(text_, 0, from);
    grown.append(text);
    grown.append(text_, to);
    text_.swap(grown);
  } else {
    // In place: only the bytes after the change move.
    text_.replace(from, to - from, text);
  }
  index_.edit(text_, from, to - from, text.size());
  return true;
}

void Document::set_text(std::string text) {
  // A client that sends the whole text for each change still gets an analysis of what changed.
  const std::size_t common = std::min(text.size(), text_.size());
  const auto prefix = static_cast<std::size_t>(
      std::mismatch(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(common), text_.begin())
          .first -
      text.begin());
  const auto suffix = static_cast<std::size_t>(
      std::mismatch(text.rbegin(), text.rbegin() + static_cast<std::ptrdiff_t>(common - prefix),
                    text_.rbegin())
          .first -
      text.rbegin());
  change_.add(text_.size(), prefix, text_.size() - suffix);
  text_ = std::move(text);
  index_ = LineIndex(text_);
}

}  // namespace vorpex::lsp

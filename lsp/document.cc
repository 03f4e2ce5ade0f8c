#include "lsp/document.h"

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
  // In place: only the bytes after the change move.
  text_.replace(from, to - from, text);
  index_ = LineIndex(text_);
  return true;
}

}  // namespace vorpex::lsp

#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "session/text_position.h"

namespace vorpex::lsp {

using vorpex::Encoding;
using Position = vorpex::TextPosition;

// The text of an open document and its lines as the client counts them (LF, CR LF or a lone CR
// ends a line). The text may hold any bytes.
class Document {
 public:
  explicit Document(std::string text = {}) { set_text(std::move(text)); }
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  void set_text(std::string text) {
    text_ = std::move(text);
    index_ = LineIndex(text_);
  }
  const std::string& text() const { return text_; }
  const LineIndex& index() const { return index_; }

  // Replaces the text between two positions (each clamped to the document) by `text`. False when
  // a position is malformed (negative) or the end comes before the start.
  bool replace(Position start, Position end, std::string_view text, Encoding encoding);

  // The bytes held for the document.
  std::size_t memory() const { return text_.capacity() + index_.memory(); }

 private:
  std::string text_;
  LineIndex index_;
};

}  // namespace vorpex::lsp

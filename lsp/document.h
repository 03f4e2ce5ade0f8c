#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "session/incremental_analysis.h"
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

  // Replaces the whole text; what it shares with the old one at both ends is told as unchanged.
  void set_text(std::string text);
  const std::string& text() const { return text_; }
  const LineIndex& index() const { return index_; }

  // Replaces the text between two positions (each clamped to the document) by `text`. False when
  // a position is malformed (negative) or the end comes before the start.
  bool replace(Position start, Position end, std::string_view text, Encoding encoding);

  // The bytes held for the document.
  std::size_t memory() const { return text_.capacity() + index_.memory(); }

  // What the changes since the last call left alone of the text.
  TextChange take_change() { return std::exchange(change_, {}); }

 private:
  std::string text_;
  LineIndex index_;
  TextChange change_;
};

}  // namespace vorpex::lsp

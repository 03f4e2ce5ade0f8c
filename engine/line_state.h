#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/tokenizer.h"

namespace vorpex {

// What the line processor knows about the line in hand; reset at the start of every line except
// for the line number.
struct LineState {
  std::int64_t line_number = 0;  // counts the input's lines from 1
  std::size_t token_count = 0;   // passes of the token loop completed on this line
  TokenKind previous_kind = TokenKind::Delimiter;  // the kind handled before the current token
  bool leading_number = false;  // the last number written was the line's first token

  void start_line() {
    ++line_number;
    token_count = 0;
    previous_kind = TokenKind::Delimiter;
    leading_number = false;
  }

  // A number (or a substituted value that begins with a digit) marks the line as starting with a
  // number only when it is the line's first token.
  void note_number() { leading_number = token_count == 0; }
};

}  // namespace vorpex

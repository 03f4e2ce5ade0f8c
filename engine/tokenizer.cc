#include "engine/tokenizer.h"

#include "engine/char_class.h"

namespace vorpex {

using char_class::has;

bool is_blank(char c) {
  return has(c, char_class::kBlank);
}
bool is_delimiter(char c) {
  return has(c, char_class::kTerminator);
}

}  // namespace vorpex

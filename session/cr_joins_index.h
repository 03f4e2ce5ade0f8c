#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "session/incremental_analysis.h"
#include "session/session.h"

namespace vorpex {

// The CRs that end no line of a text kept from one version to the next, so that an edit reads only
// the bytes it changed and the one before them: the warning is cr_joins_warning()'s for the text.
// Where the text holds so many that their places would weigh more than a sixteenth of it, each
// warning reads the whole text instead.
class CrJoinsIndex {
 public:
  void reset(std::string_view text);
  // `text` is the text last indexed after `change`.
  void update(std::string_view text, const TextChange& change);
  std::optional<KeptDiagnostic> warning(std::string_view text) const;

 private:
  // Adds the places in text[from, to) to the lists; false when they grow past their bound.
  bool scan(std::string_view text, std::size_t from, std::size_t to,
            std::vector<std::size_t>& joins, std::vector<std::size_t>& ends) const;

  std::vector<std::size_t> joins_;  // the last CR of each run that is counted, wherever it stands
  std::vector<std::size_t> ends_;   // each byte 0x1A (the first ends the converter's input)
  std::size_t size_ = 0;            // the text's size
  bool whole_ = false;              // too many to keep: each warning reads the whole text
};

}  // namespace vorpex

#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vorpex::lsp {

// JSON text written straight into a string, for the messages that are too large and too frequent
// to build as a tree first. Each writes what the tree's dump writes for the same value.

// `text` as a JSON string, quotes included. A byte that is not part of valid UTF-8 becomes
// U+FFFD, as in every other message the server writes.
void append_json_string(std::string& out, std::string_view text);
void append_json_integer(std::string& out, std::int64_t value);

}  // namespace vorpex::lsp

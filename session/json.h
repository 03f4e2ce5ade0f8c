#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/byte_sink.h"
#include "session/packed_integers.h"

namespace vorpex {

// JSON text written straight into a string, for the front ends that speak JSON (the language
// server and the web page).

// `text` as a JSON string, quotes included. Text is read as utf8::next_character reads it: a
// valid character is written as it is, and each run of bytes that is not UTF-8 (the longest start
// of a sequence that could still have been valid, or a byte that begins none) becomes one U+FFFD,
// as browsers and editors decode such bytes. Control characters are escaped: \b \f \n \r \t by
// name, the others as \u00XX; the double quote and the backslash with a backslash.
void append_json_string(std::string& out, std::string_view text);
void append_json_integer(std::string& out, std::int64_t value);
// The `count` integers of a packed list from `from` on, as a JSON array: the size of its text, and
// the text written to `out` a few kilobytes at a time (the list may be too long to be held as
// text).
std::size_t json_integers_size(PackedIntegers::Reader from, std::size_t count);
// The size of the whole list's text, known without reading it.
std::size_t json_integers_size(const PackedIntegers& list);
bool write_json_integers(ByteSink& out, PackedIntegers::Reader from, std::size_t count);

}  // namespace vorpex

#pragma once

#include <string>
#include <string_view>

#include "engine/define_directive.h"
#include "engine/diagnostic.h"

namespace vorpex {

// The words of the engine's diagnostics, the same for every front end.

// `text` in single quotes: each byte outside printable ASCII as \xNN, and cut to its first 40
// bytes with "..." after them when longer.
std::string quoted(std::string_view text);

// Appends the message of a diagnostic, without its place: "the character ':' begins no ...".
void describe(std::string& out, const Diagnostic& diagnostic);

// Why a constant from outside the source cannot be defined: "the name must be one word", ...
std::string_view define_refusal(DefineResult result);

// Appends `number` in decimal.
void append_number(std::string& out, std::int64_t number);

}  // namespace vorpex

// What the shared part of the harness lends to the process launchers of each system.
#pragma once

#include <filesystem>
#include <string>

namespace vorpex_e2e {

// Throws with the system's words for errno when `ok` is false.
void check(bool ok, const char* what);
// A UTF-8 name as a path of this system.
std::filesystem::path from_utf8(const std::string& name);
// A line that editors read (FILE:LINE:COLUMN: error: ..., matched by the regular expression of
// VS Code's $gcc problem matcher, with the GNU "note" beside "warning" and "error") or one that
// names the program.
bool diagnostic_line(const std::string& line);

}  // namespace vorpex_e2e

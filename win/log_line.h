// The programs' diagnostics: one line on standard error with the program's prefix, and the
// local time in front when standard error is a log file to be read later.
#pragma once

#include <string>
#include <string_view>

namespace ondelle {

// Writes "<program>: <line>" and a line end in one piece, so that lines from different
// threads never interleave.
void log_line(std::string_view program, const std::string& line);

// From now on every line starts with the local date and time to the millisecond
// ("2026-12-11 09:41:07.250 "). Call before any thread logs.
void stamp_log_lines();

}  // namespace ondelle

// The programs' diagnostics: one line on standard error with the program's prefix, and the
// local time in front when standard error is a log file to be read later.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace ondelle {

// Writes "<program>: <line>" and a line end in one piece, so that lines from different
// threads never interleave.
void log_line(std::string_view program, const std::string& line);

// From now on every line starts with the local date and time to the millisecond
// ("2026-12-11 09:41:07.250 ") and goes to file (kept open for good) instead of standard
// error: a service has no standard error to reopen. With move_aside_at, the file at path is
// moved aside to "<path>.1" (replacing the one before) once it has grown past that many bytes,
// and a new one started.
void log_lines_to(std::FILE* file, std::wstring path = {}, std::uint64_t move_aside_at = 0);

// The last line logged, without its prefix: what a service that failed says was the reason.
std::string last_log_line();

}  // namespace ondelle

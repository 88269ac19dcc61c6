// The programs' diagnostics: one line on standard error with the program's prefix.
#pragma once

#include <string>
#include <string_view>

namespace ondelle {

// Writes "<program>: <line>" and a line end in one piece, so that lines from different
// threads never interleave.
void log_line(std::string_view program, const std::string& line);

}  // namespace ondelle

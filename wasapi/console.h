#pragma once

#include <string>

namespace ondelle {

// Writes line and a line end to standard error in one piece, so that lines from different
// threads never interleave.
void print_error_line(const std::string& line);

}  // namespace ondelle

// Diagnostics on standard error, one whole line per write.
#include "win/log_line.h"

#include <cstdio>

namespace ondelle {

void log_line(std::string_view program, const std::string& line) {
    std::string whole;
    whole.reserve(program.size() + line.size() + 3);
    whole.append(program).append(": ").append(line).push_back('\n');
    std::fwrite(whole.data(), 1, whole.size(), stderr);
}

}  // namespace ondelle

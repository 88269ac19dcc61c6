#include "console.h"

#include <cstdio>

namespace ondelle {

void print_error_line(const std::string& line) {
    const std::string whole = line + '\n';
    std::fwrite(whole.data(), 1, whole.size(), stderr);
}

}  // namespace ondelle

// The command line of ondelle-send.
#pragma once

#include <string>
#include <vector>

namespace ondelle::send {

extern const char* const usage_text;

struct Options {
    bool list = false;
    std::string to;   // a display name, or HOST[:PORT]
    int volume = -1;  // 0 to 100; -1: not asked for
    std::vector<std::string> files;
};

// False on a usage error: an unknown option, a missing value, a volume outside 0 to 100, or
// no file without --list.
bool parse_options(const std::vector<std::string>& arguments, Options& options);

}  // namespace ondelle::send

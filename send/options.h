// The command line of ondelle-send.
#pragma once

#include <string>
#include <vector>

#include "support/command_line.h"

namespace ondelle::send {

extern const char* const usage_text;

struct Options {
    bool list = false;
    std::string to;   // a display name, or HOST[:PORT]
    int volume = -1;  // 0 to 100; -1: not asked for
    bool wait_device = false;
    std::vector<std::string> files;
};

// The table of options, storing what is parsed into options (which must outlive it).
CommandLine command_line(Options& options);

// What the parsed options lack as a whole: "" when they are complete, else the line to print
// before the usage text (files and --list go apart; without --list, a file is needed).
std::string missing(const Options& options);

}  // namespace ondelle::send

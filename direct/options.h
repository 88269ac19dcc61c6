// Ondelle-Direct's command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ondelle {

struct Options {
    bool list = false;
    std::string driver;
    std::string name;
    int port = -1;      // negative: the default
    int buffer_ms = 0;  // 0 or less: the default
    bool software_volume = false;
    bool any_address = false;
    bool local = false;
    bool panel = false;
    bool no_output_ready = false;

    // The port and buffer once the defaults of the mode are applied.
    int effective_port() const;
    std::int32_t effective_buffer_ms() const;
};

extern const char* const usage_text;

// arguments[0] is the program. False on an unknown argument (parsing stops there).
bool parse_options(const std::vector<std::string>& arguments, Options& options);

}  // namespace ondelle

// Ondelle-Direct's command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/command_line.h"
#include "win/service_options.h"

namespace ondelle::direct {

struct Options {
    bool list = false;
    std::string driver;
    std::string name;
    int port = -1;      // not given: the default of the mode
    int buffer_ms = 0;  // 0: the default of the mode
    std::string volume = "fixed";
    bool any_address = false;
    bool local = false;
    bool panel = false;
    bool no_output_ready = false;
    bool wait = false;
    std::string log;
    ServiceOptions service;

    bool software_volume() const { return volume == "software"; }
    // The port and buffer once the defaults of the mode are applied.
    int effective_port() const;
    std::int32_t effective_buffer_ms() const;
};

extern const char* const usage_text;

// The table of options, storing what is parsed into options (which must outlive it).
CommandLine command_line(Options& options);

}  // namespace ondelle::direct

// The command line of ondelle-wasapi.
#pragma once

#include <string>
#include <vector>

#include "support/command_line.h"
#include "win/service_options.h"

namespace ondelle::wasapi {

struct Options {
    std::string device;
    std::string name;
    int port = 4720;
    bool dop = false;
    int buffer_ms = 2000;
    int away_buffer_ms = 0;
    int away_burst_ms = 0;
    std::string flac;  // empty: the core's default
    std::string local_sender;
    bool follow_system = false;
    bool mix = false;
    bool any_address = false;
    bool wait = false;
    std::string log;
    bool list = false;
    ServiceOptions service;
};

extern const char* const usage_text;

// The table of options, storing what is parsed into options (which must outlive it).
CommandLine command_line(Options& options);

}  // namespace ondelle::wasapi

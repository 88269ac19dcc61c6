// Playing files in order over one sender connection: each file one stream, consecutive
// files of one format joined without a gap by the endpoint, the end waited for.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "endpoint_link.h"
#include "exit_codes.h"

namespace ondelle::send {

class Terminal;

// Plays the files; returns the exit code. stop_requested is set by Ctrl-C from another
// thread.
ExitCode play_files(EndpointLink& link, const std::vector<std::string>& files,
                    Terminal& terminal, const std::atomic<bool>& stop_requested);

}  // namespace ondelle::send

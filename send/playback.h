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

// Checks every file against what the endpoint plays (its welcome), before anything is sent:
// each that cannot be played is named on standard error with why. The files that can, in
// order, and the exit code the first refusal would give (played when none was refused).
struct Checked {
    std::vector<std::string> playable;
    ExitCode refused = played;
};
Checked check_files(const std::vector<std::string>& files, const Json& welcome);

// Plays the files; returns the exit code. stop_requested is set by Ctrl-C from another
// thread. With wait_device, an output that goes away is waited for, and the file that was
// playing goes on from where it was heard.
ExitCode play_files(EndpointLink& link, const std::vector<std::string>& files, Terminal& terminal,
                    const std::atomic<bool>& stop_requested, bool wait_device);

}  // namespace ondelle::send

// The log lines in a file, for a program that runs without a console to read: every
// line stamped with the local time, after a header naming the program, what it serves and
// when it started.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ondelle {

// How big the file may grow: past the limit it is started afresh at the next start, or, with
// keep_old, moved aside to "<path>.1" (replacing the one before) and started afresh, at the
// start and while the program runs.
struct LogFileLimit {
    std::uint64_t bytes = 1048576;
    bool keep_old = false;
};

// Sends the program's log lines to path. A file that cannot be written is said on standard
// error, where the lines then stay; false then.
bool log_to_file(std::string_view program, const std::string& path, const std::string& serving,
                 LogFileLimit limit = {});

// Where a service keeps its log: "%ProgramData%\Ondelle\<service name>.log", the folder made
// when it is not there.
std::string service_log_path(const std::string& service_name);

}  // namespace ondelle

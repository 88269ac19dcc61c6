// Diagnostics on standard error, one whole line per write.
#include "win/log_line.h"

#include <windows.h>

#include <atomic>
#include <cstdio>

namespace ondelle {
namespace {

// Standard error is the process's own; so is whether its lines are stamped.
std::atomic<bool> stamped{false};

}  // namespace

void stamp_log_lines() {
    stamped.store(true);
}

void log_line(std::string_view program, const std::string& line) {
    std::string whole;
    whole.reserve(program.size() + line.size() + 28);
    if (stamped.load()) {
        SYSTEMTIME now{};
        GetLocalTime(&now);
        char stamp[48];
        std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u ",
                      unsigned(now.wYear), unsigned(now.wMonth), unsigned(now.wDay),
                      unsigned(now.wHour), unsigned(now.wMinute), unsigned(now.wSecond),
                      unsigned(now.wMilliseconds));
        whole.append(stamp);
    }
    whole.append(program).append(": ").append(line).push_back('\n');
    std::fwrite(whole.data(), 1, whole.size(), stderr);
}

}  // namespace ondelle

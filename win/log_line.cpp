// Diagnostics on standard error, one whole line per write.
#include "win/log_line.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

namespace ondelle {
namespace {

// Where the process's lines go, stamped, when not to standard error; and its last line.
std::atomic<std::FILE*> log_file{nullptr};
std::mutex last_mutex;
std::string last;  // under last_mutex

}  // namespace

void log_lines_to(std::FILE* file) {
    log_file.store(file);
}

void log_line(std::string_view program, const std::string& line) {
    std::string whole;
    whole.reserve(program.size() + line.size() + 28);
    std::FILE* const file = log_file.load();
    if (file) {
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
    std::fwrite(whole.data(), 1, whole.size(), file ? file : stderr);
    std::lock_guard lock(last_mutex);
    last = line;
}

std::string last_log_line() {
    std::lock_guard lock(last_mutex);
    return last;
}

}  // namespace ondelle

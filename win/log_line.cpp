// Diagnostics on standard error, or in a log file, one whole line per write.
#include "win/log_line.h"

#include <windows.h>

#include <cstdio>
#include <mutex>

namespace ondelle {
namespace {

// Where the process's lines go: standard error, or a file whose lines are stamped and which
// is moved aside once it has grown past a size; and the last line said.
struct Destination {
    std::mutex mutex;
    std::FILE* file = nullptr;  // null: standard error
    std::wstring path;
    std::uint64_t move_aside_at = 0;  // 0: never
    std::string last;
};

Destination& destination() {
    static Destination the_one;  // the process has one standard error, and one log
    return the_one;
}

// The file becomes "<path>.1" (replacing the one before) and a new one is started; under the
// destination's lock.
void move_aside(Destination& to) {
    std::fclose(to.file);
    const std::wstring old_path = to.path + L".1";
    _wremove(old_path.c_str());
    _wrename(to.path.c_str(), old_path.c_str());
    to.file = _wfopen(to.path.c_str(), L"w");
    if (to.file) std::setvbuf(to.file, nullptr, _IONBF, 0);
}

}  // namespace

void log_lines_to(std::FILE* file, std::wstring path, std::uint64_t move_aside_at) {
    Destination& to = destination();
    std::lock_guard lock(to.mutex);
    to.file = file;
    to.path = std::move(path);
    to.move_aside_at = move_aside_at;
}

void log_line(std::string_view program, const std::string& line) {
    Destination& to = destination();
    std::lock_guard lock(to.mutex);
    std::string whole;
    whole.reserve(program.size() + line.size() + 28);
    if (to.file) {
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
    std::fwrite(whole.data(), 1, whole.size(), to.file ? to.file : stderr);
    to.last = line;
    if (to.file && to.move_aside_at != 0 && std::uint64_t(std::ftell(to.file)) > to.move_aside_at)
        move_aside(to);
}

std::string last_log_line() {
    Destination& to = destination();
    std::lock_guard lock(to.mutex);
    return to.last;
}

}  // namespace ondelle

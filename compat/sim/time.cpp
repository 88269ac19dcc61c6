// Sleeping and the clocks: Sleep, GetTickCount64, GetLocalTime and the runtime's 64-bit time calls.
#include <windows.h>

#include <chrono>
#include <ctime>
#include <thread>

void Sleep(DWORD milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

ULONGLONG GetTickCount64() {
    return ULONGLONG(std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now().time_since_epoch())
                         .count());
}

__time64_t _time64(__time64_t* out) {
    const auto now = __time64_t(std::time(nullptr));
    if (out) *out = now;
    return now;
}

char* _ctime64(const __time64_t* time) {
    if (!time) return nullptr;
    const std::time_t t = std::time_t(*time);
    return std::ctime(&t);
}

void GetLocalTime(SYSTEMTIME* out) {
    if (!out) return;
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    out->wYear = WORD(local.tm_year + 1900);
    out->wMonth = WORD(local.tm_mon + 1);
    out->wDayOfWeek = WORD(local.tm_wday);
    out->wDay = WORD(local.tm_mday);
    out->wHour = WORD(local.tm_hour);
    out->wMinute = WORD(local.tm_min);
    out->wSecond = WORD(local.tm_sec);
    out->wMilliseconds = WORD(ms);
}

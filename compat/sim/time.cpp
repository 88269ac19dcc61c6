// Sleeping and the clocks: Sleep, GetTickCount64 and the runtime's 64-bit time calls.
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

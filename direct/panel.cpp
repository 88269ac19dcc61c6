// A settings window belongs to the driver, not to us: all we can see is whether some visible
// top-level window of this process remains, polled twice a second.
#include "panel.h"

#include <windows.h>

#include <string>

#include "asio.h"
#include "program_name.h"
#include "win/log_line.h"

namespace ondelle::direct {

namespace {

BOOL CALLBACK find_own_visible_window(HWND window, LPARAM found) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
    *reinterpret_cast<bool*>(found) = true;
    return FALSE;
}

bool own_window_visible() {
    bool found = false;
    EnumWindows(find_own_visible_window, reinterpret_cast<LPARAM>(&found));
    return found;
}

}  // namespace

int show_settings_window(Asio& asio) {
    std::string error;
    if (!asio.call([&] { return asio.show_panel(error); })) {
        log_line(program_name,
                 "no settings window: " + (error.empty() ? "the driver has none" : error));
        return 1;
    }
    for (int misses = 0; misses < 4;) {
        Sleep(500);
        misses = own_window_visible() ? 0 : misses + 1;
    }
    return 0;
}

}  // namespace ondelle::direct

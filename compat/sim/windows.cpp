// Windows of this process: the programs' message-only windows and the settings windows of
// the simulated drivers, which are visible top-level windows for a while.
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "window_table.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Window {
    DWORD thread = 0;
    bool visible = false;
    bool message_only = false;
    Clock::time_point gone_at = Clock::time_point::max();
};

class WindowTable {
  public:
    HWND add(Window window) {
        std::lock_guard lock(mutex_);
        const auto handle = reinterpret_cast<HWND>(next_);
        next_ += 0x10;
        windows_.emplace(handle, window);
        return handle;
    }
    bool remove(HWND handle) {
        std::lock_guard lock(mutex_);
        return windows_.erase(handle) == 1;
    }
    // The window as it is now; false when there is none (or its time has run out).
    bool find(HWND handle, Window& out) {
        std::lock_guard lock(mutex_);
        drop_expired();
        const auto found = windows_.find(handle);
        if (found == windows_.end()) return false;
        out = found->second;
        return true;
    }
    std::vector<HWND> top_level() {
        std::lock_guard lock(mutex_);
        drop_expired();
        std::vector<HWND> handles;
        for (const auto& [handle, window] : windows_)
            if (!window.message_only) handles.push_back(handle);
        return handles;
    }

  private:
    void drop_expired() {
        const auto now = Clock::now();
        std::erase_if(windows_, [now](const auto& entry) { return entry.second.gone_at <= now; });
    }

    std::mutex mutex_;
    std::map<HWND, Window> windows_;
    std::uintptr_t next_ = 0x20000;
};

WindowTable& window_table() {
    static WindowTable table;
    return table;
}

}  // namespace

namespace compat {

void show_window_for(std::chrono::milliseconds time) {
    Window window;
    window.thread = GetCurrentThreadId();
    window.visible = true;
    window.gone_at = Clock::now() + time;
    window_table().add(window);
}

}  // namespace compat

HWND CreateWindowExW(DWORD, LPCWSTR, LPCWSTR, DWORD style, int, int, int, int, HWND parent, HMENU,
                     HINSTANCE, LPVOID) {
    Window window;
    window.thread = GetCurrentThreadId();
    window.visible = (style & WS_VISIBLE) != 0;
    window.message_only = parent == HWND_MESSAGE;
    return window_table().add(window);
}

BOOL DestroyWindow(HWND window) {
    return window_table().remove(window) ? TRUE : FALSE;
}

HMODULE GetModuleHandleW(LPCWSTR module_name) {
    // Only the program's own module is ever asked for.
    return module_name ? nullptr : reinterpret_cast<HMODULE>(std::uintptr_t(0x400000));
}

BOOL EnumWindows(WNDENUMPROC function, LPARAM parameter) {
    if (!function) return FALSE;
    for (const HWND handle : window_table().top_level())
        if (!function(handle, parameter)) break;
    return TRUE;
}

DWORD GetWindowThreadProcessId(HWND handle, LPDWORD process_id) {
    Window window;
    if (!window_table().find(handle, window)) return 0;
    if (process_id) *process_id = GetCurrentProcessId();
    return window.thread;
}

BOOL IsWindowVisible(HWND handle) {
    Window window;
    return window_table().find(handle, window) && window.visible ? TRUE : FALSE;
}

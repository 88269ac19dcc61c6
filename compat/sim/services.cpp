// The service control manager as a service sees it: a dispatcher that runs the service's main
// function on a thread of its own and passes stop requests to its handler (asked for by a
// file), and the statuses the service reports, written one per line to a file.
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "simulation.h"
#include "support/text.h"
#include "support/thread.h"

namespace {

thread_local DWORD last_error = 0;

struct Dispatch {
    std::mutex mutex;
    LPHANDLER_FUNCTION_EX handler = nullptr;  // under mutex
    LPVOID context = nullptr;
    std::string status_file;
    bool stopped = false;  // under mutex: the service said SERVICE_STOPPED
};

// The one dispatch running, as there is at most one per process.
Dispatch* current_dispatch = nullptr;

const char* state_name(DWORD state) {
    switch (state) {
        case SERVICE_STOPPED:
            return "STOPPED";
        case SERVICE_START_PENDING:
            return "START_PENDING";
        case SERVICE_STOP_PENDING:
            return "STOP_PENDING";
        case SERVICE_RUNNING:
            return "RUNNING";
        default:
            return "?";
    }
}

}  // namespace

DWORD GetLastError() {
    return last_error;
}

void SetLastError(DWORD error) {
    last_error = error;
}

BOOL StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* table) {
    const std::string control = compat::current_simulation()->config.service_control;
    if (!table || !table[0].lpServiceProc || control.empty()) {
        SetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
        return FALSE;
    }
    Dispatch dispatch;
    dispatch.status_file = control;
    current_dispatch = &dispatch;
    std::wstring name = table[0].lpServiceName;
    LPWSTR argv[] = {name.data(), nullptr};
    std::thread service = ondelle::start_thread(
        "sim service", [proc = table[0].lpServiceProc, &argv] { proc(1, argv); });
    // Stop requests reach the handler on this thread, as the manager's controls do.
    bool stop_sent = false;
    for (;;) {
        {
            std::lock_guard lock(dispatch.mutex);
            if (dispatch.stopped) break;
        }
        std::error_code ignored;
        if (!stop_sent && std::filesystem::exists(control + ".stop", ignored)) {
            LPHANDLER_FUNCTION_EX handler = nullptr;
            LPVOID context = nullptr;
            {
                std::lock_guard lock(dispatch.mutex);
                handler = dispatch.handler;
                context = dispatch.context;
            }
            if (handler) {
                handler(SERVICE_CONTROL_STOP, 0, nullptr, context);
                stop_sent = true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    service.join();
    current_dispatch = nullptr;
    return TRUE;
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerExW(LPCWSTR, LPHANDLER_FUNCTION_EX handler,
                                                    LPVOID context) {
    if (!current_dispatch || !handler) {
        SetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
        return nullptr;
    }
    std::lock_guard lock(current_dispatch->mutex);
    current_dispatch->handler = handler;
    current_dispatch->context = context;
    return reinterpret_cast<SERVICE_STATUS_HANDLE>(current_dispatch);
}

BOOL SetServiceStatus(SERVICE_STATUS_HANDLE handle, SERVICE_STATUS* status) {
    auto* dispatch = reinterpret_cast<Dispatch*>(handle);
    if (!dispatch || dispatch != current_dispatch || !status) return FALSE;
    std::string line = state_name(status->dwCurrentState);
    if (status->dwCurrentState == SERVICE_STOPPED)
        line += " " + std::to_string(status->dwWin32ExitCode) + " " +
                std::to_string(status->dwServiceSpecificExitCode);
    if (status->dwCurrentState == SERVICE_RUNNING)
        line += " accepts " + std::to_string(status->dwControlsAccepted);
    std::lock_guard lock(dispatch->mutex);
    std::ofstream(dispatch->status_file, std::ios::app) << line << "\n";
    if (status->dwCurrentState == SERVICE_STOPPED) dispatch->stopped = true;
    return TRUE;
}

DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size) {
    const char* value = name ? std::getenv(ondelle::to_utf8(name).c_str()) : nullptr;
    if (!value) return 0;
    const std::wstring wide = ondelle::to_wide(value);
    if (!buffer || wide.size() + 1 > size) return DWORD(wide.size() + 1);
    std::copy(wide.c_str(), wide.c_str() + wide.size() + 1, buffer);
    return DWORD(wide.size());
}

BOOL CreateDirectoryW(LPCWSTR path, void*) {
    std::error_code error;
    if (!path) return FALSE;
    const std::filesystem::path where = ondelle::to_utf8(path);
    if (std::filesystem::is_directory(where, error)) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    return std::filesystem::create_directory(where, error) ? TRUE : FALSE;
}

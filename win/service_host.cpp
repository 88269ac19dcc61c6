// ServiceHost: the dispatcher's callbacks and the statuses reported.
#include "win/service_host.h"

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "support/text.h"
#include "win/log_file.h"
#include "win/log_line.h"

namespace ondelle {
namespace {

// What the dispatcher's callbacks, which carry no context of their own, run: set for the one
// service this process is.
struct Started {
    std::wstring name;
    const std::function<int(ServiceHost&)>* main = nullptr;
    int exit_code = 0;
};
Started* started_service = nullptr;

constexpr DWORD start_wait_hint_ms = 30000;

// One event in the Windows event log, under the service's own source.
void report_event(const std::string& source, bool is_error, const std::string& text) {
    const HANDLE event_log = RegisterEventSourceW(nullptr, to_wide(source).c_str());
    if (!event_log) return;
    const std::wstring wide = to_wide(text);
    LPCWSTR strings[] = {wide.c_str()};
    ReportEventW(event_log, is_error ? EVENTLOG_ERROR_TYPE : EVENTLOG_INFORMATION_TYPE, 0,
                 is_error ? 1 : 0, nullptr, 1, 0, strings, nullptr);
    DeregisterEventSource(event_log);
}
constexpr DWORD stop_wait_hint_ms = 30000;

}  // namespace

int ServiceHost::run(const std::wstring& name, const std::function<int(ServiceHost&)>& main,
                     std::string& error) {
    Started started{name, &main, 0};
    started_service = &started;
    std::vector<wchar_t> service_name(name.begin(), name.end());
    service_name.push_back(L'\0');
    const SERVICE_TABLE_ENTRYW table[] = {{service_name.data(), &ServiceHost::service_main},
                                          {nullptr, nullptr}};
    const BOOL dispatched = StartServiceCtrlDispatcherW(table);
    started_service = nullptr;
    if (!dispatched) {
        error = GetLastError() == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT
                    ? "--service is how the service control manager starts this program; to "
                      "run it at boot, install it with --install-service"
                    : "the service control manager did not take this service (error " +
                          std::to_string(GetLastError()) + ")";
        return -1;
    }
    return started.exit_code;
}

void WINAPI ServiceHost::service_main(DWORD, LPWSTR*) {
    Started& started = *started_service;
    ServiceHost host;
    const SERVICE_STATUS_HANDLE handle =
        RegisterServiceCtrlHandlerExW(started.name.c_str(), &ServiceHost::control, &host);
    if (!handle) {
        started.exit_code = 1;
        return;
    }
    {
        std::lock_guard lock(host.mutex_);
        host.handle_ = handle;
    }
    host.report(SERVICE_START_PENDING, NO_ERROR, start_wait_hint_ms);
    started.exit_code = (*started.main)(host);
    host.report(SERVICE_STOPPED, DWORD(started.exit_code), 0);
}

DWORD WINAPI ServiceHost::control(DWORD code, DWORD, LPVOID, LPVOID context) {
    auto* const host = static_cast<ServiceHost*>(context);
    switch (code) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
        case SERVICE_CONTROL_PRESHUTDOWN:
            host->request_stop();
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE:
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void ServiceHost::report(DWORD state, DWORD exit_code, DWORD wait_hint_ms) {
    std::lock_guard lock(mutex_);
    if (!handle_) return;
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted =
        state == SERVICE_START_PENDING || state == SERVICE_STOPPED
            ? 0
            : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PRESHUTDOWN;
    status.dwWin32ExitCode = exit_code == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = exit_code;
    status.dwCheckPoint =
        state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ? ++check_point_ : 0;
    status.dwWaitHint = wait_hint_ms;
    SetServiceStatus(handle_, &status);
}

void ServiceHost::report_running() {
    report(SERVICE_RUNNING, NO_ERROR, 0);
}

void ServiceHost::report_starting() {
    report(SERVICE_START_PENDING, NO_ERROR, start_wait_hint_ms);
}

void ServiceHost::request_stop() {
    {
        std::lock_guard lock(mutex_);
        if (stop_requested_) return;
        stop_requested_ = true;
    }
    report(SERVICE_STOP_PENDING, NO_ERROR, stop_wait_hint_ms);
    // Held while the stop runs, so that whoever replaces it waits until it has returned.
    std::lock_guard calling(calling_);
    std::function<void()> stop;
    {
        std::lock_guard lock(mutex_);
        stop = stop_;
    }
    if (stop) stop();
}

void ServiceHost::on_stop(std::function<void()> stop) {
    std::lock_guard calling(calling_);
    std::function<void()> now;  // a request came already: it stops at once
    {
        std::lock_guard lock(mutex_);
        if (stop_requested_) now = stop;
        stop_ = std::move(stop);
    }
    if (now) now();
}

bool ServiceHost::stop_requested() {
    std::lock_guard lock(mutex_);
    return stop_requested_;
}

int run_as_service(std::string_view program, const std::string& name, const std::string& log_path,
                   const std::function<int(ServiceHost&)>& run) {
    std::string error;
    const int code = ServiceHost::run(
        to_wide(name),
        [&](ServiceHost& host) {
            // A service has no console: what it says goes to its log from the start, and what
            // it would print goes nowhere rather than to streams that were never opened.
            _wfreopen(L"NUL", L"w", stdout);
            _wfreopen(L"NUL", L"w", stderr);
            const std::string log = log_path.empty() ? service_log_path(name) : log_path;
            log_to_file(program, log, "service \"" + name + "\"",
                        LogFileLimit{10 * 1000 * 1000, true});
            log_line(program, "the service started");
            report_event(name, false, "started; its log is " + log);
            const int exit_code = run(host);
            if (exit_code == 0) {
                log_line(program, "the service stopped");
                report_event(name, false, "stopped");
            } else {
                const std::string reason = last_log_line();
                log_line(program,
                         "the service stopped with exit code " + std::to_string(exit_code));
                report_event(name, true,
                             "stopped with exit code " + std::to_string(exit_code) + ": " + reason);
            }
            return exit_code;
        },
        error);
    if (code >= 0) return code;
    log_line(program, error);
    return 1;
}

}  // namespace ondelle

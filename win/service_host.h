// Running as a Windows service: the control dispatcher, the status the service control
// manager sees (starting, running, stopping, stopped with an exit code) and its stop request,
// which reaches whatever the program is doing at the time: waiting for its output, starting,
// or serving.
#pragma once

#include <windows.h>

#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace ondelle {

class ServiceHost {
  public:
    // Runs main as the service name once the service control manager has started this
    // process: returns main's exit code once the service has reported itself stopped (0 as
    // NO_ERROR, any other as a service-specific code); -1 with error filled when the process
    // was not started by the manager.
    static int run(const std::wstring& name, const std::function<int(ServiceHost&)>& main,
                   std::string& error);

    // "Running": the service takes stop, shutdown and preshutdown requests from now on.
    void report_running();
    // "Start pending" again, with a longer wait, while the output is waited for.
    void report_starting();

    // What a stop request does from now on; called at once when one has come already.
    // Empty: a request is only kept. Returns only once a stop that was running has returned,
    // so that what the old one reaches may go.
    void on_stop(std::function<void()> stop);
    bool stop_requested();

  private:
    ServiceHost() = default;
    void report(DWORD state, DWORD exit_code, DWORD wait_hint_ms);
    void request_stop();

    static void WINAPI service_main(DWORD argc, LPWSTR* argv);
    static DWORD WINAPI control(DWORD code, DWORD event_type, LPVOID event_data, LPVOID context);

    std::mutex calling_;  // held while a stop runs, and while it is replaced
    std::mutex mutex_;
    SERVICE_STATUS_HANDLE handle_ = nullptr;  // under mutex_
    std::function<void()> stop_;              // under mutex_
    bool stop_requested_ = false;             // under mutex_
    DWORD check_point_ = 0;                   // under mutex_
};

// What --service does in either program: runs run as the service name, its diagnostics in the
// log file log_path ("%ProgramData%\\Ondelle\\<name>.log" when empty), moved aside past 10 MB.
// The exit code; 1, said on standard error, when the process was not started by the service
// control manager.
int run_as_service(std::string_view program, const std::string& name, const std::string& log_path,
                   const std::function<int(ServiceHost&)>& run);

}  // namespace ondelle

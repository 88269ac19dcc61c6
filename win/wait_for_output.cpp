// The wait for an output at start, which a console signal or a service stop may end.
#include "win/wait_for_output.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "support/console_signal.h"
#include "win/log_line.h"
#include "win/service_host.h"

namespace ondelle {

bool wait_for_output(std::string_view program, const std::string& what,
                     const std::function<bool()>& found, ServiceHost* service) {
    log_line(program, "waiting for " + what + " (looked for again every 3 s)");
    std::mutex mutex;
    std::condition_variable wake;
    bool stopped = false;
    const auto stop = [&] {
        {
            std::lock_guard lock(mutex);
            stopped = true;
        }
        wake.notify_all();
    };
    const ConsoleSignals signals(stop);
    if (service) {
        service->on_stop(stop);
        service->report_running();
    }
    bool is_here = false;
    for (;;) {
        {
            std::unique_lock lock(mutex);
            if (wake.wait_for(lock, std::chrono::seconds(3), [&] { return stopped; })) break;
        }
        if (found()) {
            log_line(program, what + " is here");
            is_here = true;
            break;
        }
    }
    if (service) service->on_stop(nullptr);
    return is_here;
}

}  // namespace ondelle

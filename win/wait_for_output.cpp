// The wait for an output at start, which a console signal may end.
#include "win/wait_for_output.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "support/console_signal.h"
#include "win/log_line.h"

namespace ondelle {

bool wait_for_output(std::string_view program, const std::string& what,
                     const std::function<bool()>& found) {
    log_line(program, "waiting for " + what + " (looked for again every 3 s)");
    std::mutex mutex;
    std::condition_variable wake;
    bool stopped = false;
    const ConsoleSignals signals([&] {
        {
            std::lock_guard lock(mutex);
            stopped = true;
        }
        wake.notify_all();
    });
    for (;;) {
        {
            std::unique_lock lock(mutex);
            if (wake.wait_for(lock, std::chrono::seconds(3), [&] { return stopped; })) return false;
        }
        if (found()) {
            log_line(program, what + " is here");
            return true;
        }
    }
}

}  // namespace ondelle

// Console signals on Windows: the runtime calls a signal handler on a thread of its own,
// which may call the handler directly.
#include <atomic>
#include <csignal>

#include "support/console_signal.h"

namespace ondelle {

struct ConsoleSignals::Watch {
    std::function<void()> on_signal;
};

namespace {

// The current watch; null when nobody watches.
std::atomic<ConsoleSignals::Watch*> current_watch{nullptr};
std::atomic<bool> signal_received{false};

void on_console_signal(int signal) {
    signal_received.store(true);
    // The runtime resets the handler before it calls it.
    std::signal(signal, on_console_signal);
    if (ConsoleSignals::Watch* watch = current_watch.load()) watch->on_signal();
}

}  // namespace

ConsoleSignals::ConsoleSignals(std::function<void()> on_signal)
    : watch_(std::make_unique<Watch>(Watch{std::move(on_signal)})) {
    current_watch.store(watch_.get());
    std::signal(SIGINT, on_console_signal);
    std::signal(SIGTERM, on_console_signal);
}

ConsoleSignals::~ConsoleSignals() {
    current_watch.store(nullptr);
}

bool ConsoleSignals::received() const {
    return signal_received.load();
}

}  // namespace ondelle

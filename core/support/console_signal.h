// The console's stop signals (Ctrl-C, SIGTERM, a closed console) turned into one call of a
// handler on a thread of its own, where it may take any lock: on POSIX systems a signal
// handler only wakes that thread; Windows' runtime already calls it on a thread of its own.
#pragma once

#include <functional>
#include <memory>

namespace ondelle {

class ConsoleSignals {
  public:
    // Installs the handler for SIGINT and SIGTERM; it runs once per signal.
    explicit ConsoleSignals(std::function<void()> on_signal);
    // Signals that arrive afterwards are ignored; the process is not ended by them.
    ~ConsoleSignals();

    // True once a signal has arrived, even before the handler has run on its thread: a call
    // the signal cut short may return before the handler has said so.
    bool received() const;
    ConsoleSignals(const ConsoleSignals&) = delete;
    ConsoleSignals& operator=(const ConsoleSignals&) = delete;

    struct Watch;

  private:
    std::unique_ptr<Watch> watch_;
};

}  // namespace ondelle

// Recovery from a driver that went away (its DAC unplugged or switched off): a driver that
// stops calling back while it should play is given up and said gone once; while a sender is
// there it is loaded again every few seconds, and once it is back what it plays is asked
// afresh. The driver thread's timer runs it; the sink reads lost and caps_changed.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace ondelle::direct {

class Asio;

// A driver quiet this long while it should play has stopped; a writer waiting for room
// gives up then too.
inline constexpr std::uint64_t driver_stall_limit_ms = 1001;

class DriverRecovery {
  public:
    // Both hooks belong to the driver thread (set and cleared through Asio::call) and run
    // there: on_lost once a driver that was playing is given up, wanted to ask whether anyone
    // would play now.
    std::function<void()> on_lost;
    std::function<bool()> wanted;
    // Set when a playing driver was given up, cleared once one loads again; then
    // caps_changed tells the sink to ask for the capabilities afresh.
    std::atomic<bool> lost{false};
    std::atomic<bool> caps_changed{false};

    // The timer's duty, on the driver thread: gives a stalled driver up, and tries a lost one
    // again when it is time.
    void on_timer(Asio& asio);
    // Unloads the driver as gone and says so once; on the driver thread.
    void give_up(Asio& asio);
    // A driver object loaded; one that had gone is back. On the driver thread.
    void loaded();
    // What a failed load says: while the driver is lost, only that the output is gone.
    std::string load_failure(std::string reason) const;

  private:
    std::uint64_t last_retry_ = 0;
};

}  // namespace ondelle::direct

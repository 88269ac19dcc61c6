// The software volume: the endpoint's level becomes the linear gain of the buffer switch,
// on a cubic taper, with the rule for a sender that has just connected.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "win/volume_guard.h"

namespace ondelle {
class Endpoint;
}  // namespace ondelle

namespace ondelle::direct {

class Asio;

// 0 when muted or at 0 or less, else (min(level, 100) / 100)³: 50 gives 0.125.
double volume_gain(std::int32_t level, bool muted);

class SoftwareVolume {
  public:
    static constexpr std::int32_t initial_level = 30;

    // Stores the gain of the initial level into asio.
    explicit SoftwareVolume(Asio& asio);

    // The log hook's part: notes when a sender connected.
    void note_log_line(const std::string& line) { guard_.note_log_line(line); }
    // The volume hook: applies the request, or keeps the level and says so.
    void apply(Endpoint& endpoint, std::int32_t requested, bool mute);

  private:
    Asio& asio_;
    NewSenderVolumeGuard guard_;
    std::atomic<std::int32_t> level_{initial_level};
    std::atomic<bool> muted_{false};
};

}  // namespace ondelle::direct

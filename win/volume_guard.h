// A sender that has just connected may lower the volume or mute, never raise it: its first
// request is often a level remembered from another room. Both programs apply this rule to
// the volume they control.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

namespace ondelle {

class Endpoint;

class NewSenderVolumeGuard {
  public:
    // The log hook's part: a "sender: " line marks the moment a sender connected.
    void note_log_line(const std::string& line);

    // True when the request is held back: within three seconds of a sender's arrival, a
    // request that does not mute and raises the level by more than 2 or unmutes. It then
    // logs why and tells the sender the level that stays.
    bool holds_back(Endpoint& endpoint, std::string_view program, std::int32_t requested, bool mute,
                    std::int32_t current, bool current_muted) const;

  private:
    // Milliseconds of GetTickCount64; long ago at first.
    std::atomic<std::int64_t> sender_connected_ms_{-30000};
};

}  // namespace ondelle

// The three-second rule for a sender that just connected.
#include "win/volume_guard.h"

#include <windows.h>

#include "endpoint.h"
#include "win/log_line.h"

namespace ondelle {

void NewSenderVolumeGuard::note_log_line(const std::string& line) {
    if (line.rfind("sender: ", 0) == 0) sender_connected_ms_.store(std::int64_t(GetTickCount64()));
}

bool NewSenderVolumeGuard::holds_back(Endpoint& endpoint, std::string_view program,
                                      std::int32_t requested, bool mute, std::int32_t current,
                                      bool current_muted) const {
    const std::int64_t since_sender = std::int64_t(GetTickCount64()) - sender_connected_ms_.load();
    if (since_sender > 2999 || mute || !(requested > current + 2 || current_muted)) return false;
    log_line(program, "volume " + std::to_string(requested) +
                          " from a sender that just connected: kept at " + std::to_string(current) +
                          (current_muted ? " muted" : ""));
    endpoint.report_volume(current, current_muted);
    return true;
}

}  // namespace ondelle

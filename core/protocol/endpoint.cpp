// Building, stopping and tearing down the Endpoint.
#include "endpoint.h"

#include <algorithm>

#include "support/thread.h"
#include "support/utf8.h"

namespace ondelle {

std::uint64_t compute_capacity(const EndpointSettings& s) {
    double peak = 0.0;
    for (const std::int32_t rate : s.rates) {
        for (const std::int32_t bits : s.bits) {
            const std::int32_t sample_bytes = bits / 8;
            peak = std::max(peak, (rate * 2.0) * sample_bytes);
        }
    }
    for (const std::int32_t rate : s.dsd_rates)
        peak = std::max(peak, (rate * 2.0) * 0.125);
    const int ms = std::max({s.buffer_ms, s.burst_ms, s.away_buffer_ms}) + 2000;
    const auto bytes = static_cast<std::uint64_t>(ms * (peak * 2.0) / 1000.0);
    return std::min<std::uint64_t>(bytes + 16777216, 167772160);
}

bool is_away_sender(const EndpointSettings& settings, const Conn& conn) {
    return conn.peer == "127.0.0.1" &&
           (settings.local_sender.empty() || conn.sender_id != settings.local_sender);
}

Endpoint::Endpoint(EndpointSettings endpoint_settings, Sink* output)
    : settings(std::move(endpoint_settings)), sink(output), capacity_(compute_capacity(settings)) {
    spare_buffers.reserve(16);
    player_thread_ = start_thread("player", [this] { player_main(); });
    try {
        status_thread_ = start_thread("status", [this] { status_main(); });
    } catch (...) {
        stop();
        player_thread_.join();
        throw;
    }
}

Endpoint::~Endpoint() {
    stop();
    if (player_thread_.joinable()) player_thread_.join();
    if (status_thread_.joinable()) status_thread_.join();
    std::vector<ConnEntry> sessions;
    {
        std::lock_guard lock(mutex);
        sessions = std::move(connections_);
    }
    for (auto& entry : sessions) {
        if (entry.thread.joinable()) entry.thread.join();
    }
}

void Endpoint::stop() {
    stopping_.exchange(true);
    const net::SocketHandle listener = listener_.exchange(net::no_socket);
    if (listener != net::no_socket) {
        net::shutdown_both(listener);
        net::close_socket(listener);
    }
    std::lock_guard lock(mutex);
    for (const auto& entry : connections_) {
        if (const auto conn = entry.conn.lock()) conn->shutdown();
    }
    cond.notify_all();
    status_wake_.notify_all();
}

void Endpoint::send_to_sender(const Json& message) {
    std::shared_ptr<Conn> target;
    {
        std::lock_guard lock(mutex);
        target = sender;
    }
    if (target) target->send_json(message);
}

bool Endpoint::has_sender() {
    std::lock_guard lock(mutex);
    return sender != nullptr;
}

void Endpoint::report_volume(std::int32_t volume, bool muted) {
    {
        std::lock_guard lock(mutex);
        settings.volume = volume;
        settings.muted = muted;
    }
    Json message = make_message("volume");
    message.set("value", Json(volume));
    message.set("muted", Json(muted));
    send_to_sender(message);
}

Endpoint::VolumeState Endpoint::volume_state() {
    std::lock_guard lock(mutex);
    return {settings.volume, settings.muted};
}

void Endpoint::log(const std::string& line) const {
    // Lines carry names and texts that peers chose: none of them may forge a line.
    if (on_log) on_log(escape_controls(line));
}

}  // namespace ondelle

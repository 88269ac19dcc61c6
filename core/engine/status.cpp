// The status thread: twice a second, tells the sender how far playback has been heard, how
// much is buffered, how often the output ran dry, and when a stream has been heard to its end.
#include <chrono>
#include <cstdio>

#include "endpoint.h"
#include "sink.h"
#include "support/clock.h"

namespace ondelle {
namespace {

constexpr auto cycle = std::chrono::milliseconds(500);
constexpr std::int64_t network_check_ns = 2'000'000'000;

// Reads the first interface line of a wireless statistics file; false when there is none.
bool read_wireless_signal(const std::string& path, float& level) {
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (!file) return false;
    char line[256];
    bool found = false;
    if (std::fgets(line, sizeof line, file) && std::fgets(line, sizeof line, file)) {
        while (std::fgets(line, sizeof line, file)) {
            char name[32];
            unsigned status = 0;
            float quality = 0;
            if (std::sscanf(line, " %31[^:]: %x %f %f", name, &status, &quality, &level) == 4) {
                found = true;
                break;
            }
        }
    }
    std::fclose(file);
    return found;
}

}  // namespace

void Endpoint::set_wireless_statistics(std::string path) {
    std::lock_guard lock(mutex);
    wireless_statistics_ = std::move(path);
}

void Endpoint::tell_ended(Conn& to, const std::vector<Json>& ended) {
    for (const auto& message : ended) {
        to.send_json(message);
        log("stream " + dump_json(message.get("stream")) + " ended");
    }
}

void Endpoint::status_main() {
    std::uint64_t counter = 0;
    std::vector<Json> ended;
    while (!stopping_.load()) {
        {
            std::unique_lock lock(mutex);
            if (status_wake_.wait_for(lock, cycle, [this] { return stopping_.load(); })) break;
        }
        std::unique_lock lock(mutex);
        const std::shared_ptr<Conn> to = sender;
        if (!to) continue;
        // Ends owed for streams of an output since closed or flushed are told all the same.
        const bool reporting = sink_open && !marks.empty();
        if (!reporting && owed_ends.empty()) continue;
        if (to->burst && settings.burst_ms > 0 && counter++ % 2 == 0) continue;

        const std::int64_t delay =
            sink_open ? std::min<std::int64_t>(std::max<std::int64_t>(sink->delay(), 0),
                                               static_cast<std::int64_t>(frames_written))
                      : 0;
        const std::int64_t heard = static_cast<std::int64_t>(frames_written) - delay;
        ended.clear();
        while (!owed_ends.empty() && owed_ends.front().end <= heard) {
            Json message = make_message("ended");
            message.set("stream", Json(owed_ends.front().stream));
            ended.push_back(std::move(message));
            owed_ends.pop_front();
        }
        if (!ended.empty()) cond.notify_all();  // the player may wait for room in the record
        if (!reporting) {
            lock.unlock();
            tell_ended(*to, ended);
            continue;
        }
        const TrackMark* current = &marks.front();
        for (const auto& mark : marks) {
            if (mark.start <= heard) current = &mark;
        }
        std::int64_t played = heard > current->start ? heard - current->start : 0;
        if (current->end != -1) played = std::min(played, current->end - current->start);
        const std::int64_t rate = current_format.frames_per_second();
        const double in_sink_ms = current_format.rate > 0 && rate > 0 ? delay * 1000.0 / rate : 0.0;
        const auto buffered_ms = static_cast<std::int64_t>(queued_ms() + in_sink_ms);

        Json status = make_message("status");
        status.set("stream", Json(current->stream));
        status.set("played", Json(played));
        status.set("buffered_ms", Json(buffered_ms));
        status.set("underruns", Json(static_cast<std::int64_t>(sink->underruns())));
        status.set("state", Json(state));

        const std::int64_t now = steady_now_ns();
        if (now - network_checked_ns > network_check_ns) {
            network_checked_ns = now;
            float level = 0;
            if (read_wireless_signal(wireless_statistics_, level)) {
                network_type = "wifi";
                network_signal = static_cast<std::int32_t>(level);
            }
        }
        if (!network_type.empty()) {
            Json network;
            network.set("type", Json(network_type));
            if (network_signal != 0) network.set("signal_dbm", Json(network_signal));
            status.set("network", std::move(network));
        }
        lock.unlock();
        tell_ended(*to, ended);
        to->send_json(status);
    }
}

}  // namespace ondelle

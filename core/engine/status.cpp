// The status thread: twice a second, tells the sender how far playback has been heard, how
// much is buffered, how often the output ran dry, and when a stream has been heard to its end.
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "endpoint.h"
#include "sink.h"
#include "support/clock.h"
#include "support/small_file.h"

namespace ondelle {
namespace {

constexpr auto cycle = std::chrono::milliseconds(500);
constexpr std::int64_t network_check_ns = 2'000'000'000;

// Reads the first interface line of a wireless statistics file into level; false when there is
// none. absent says the file could not be opened at all.
bool read_wireless_signal(const std::string& path, float& level, bool& absent) {
    char text[4096];
    const auto size = read_small_file(path.c_str(), text, sizeof text - 1);
    absent = !size;
    if (!size) return false;
    text[*size] = '\0';
    // Two header lines, then one line an interface.
    char* line = text;
    for (int skipped = 0; skipped < 2; ++skipped) {
        line = std::strchr(line, '\n');
        if (!line) return false;
        ++line;
    }
    while (*line) {
        char* end = std::strchr(line, '\n');
        if (end) *end = '\0';
        char name[32];
        unsigned status = 0;
        float quality = 0;
        if (std::sscanf(line, " %31[^:]: %x %f %f", name, &status, &quality, &level) == 4)
            return true;
        if (!end) break;
        line = end + 1;
    }
    return false;
}

// Appends a number as JSON writes it.
void append_number(std::string& out, std::int64_t value) {
    char digits[24];
    const auto written = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, written.ptr);
}

}  // namespace

void Endpoint::set_wireless_statistics(std::string path) {
    std::lock_guard lock(mutex);
    wireless_statistics_ = std::move(path);
    wireless_absent_ = false;
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
    // The report is written here, in place, every cycle: steady reporting allocates nothing.
    std::string status;
    status.reserve(256);
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

        const std::int64_t now = steady_now_ns();
        if (now - network_checked_ns > network_check_ns && !wireless_absent_) {
            network_checked_ns = now;
            float level = 0;
            if (read_wireless_signal(wireless_statistics_, level, wireless_absent_)) {
                network_type = "wifi";
                network_signal = static_cast<std::int32_t>(level);
            }
        }
        // {"t":"status","stream":..,"played":..,"buffered_ms":..,"underruns":..,"state":..,
        // "network":{"type":..,"signal_dbm":..}}; the texts are words of our own, with
        // nothing to escape.
        status.assign(R"({"t":"status","stream":)");
        append_number(status, current->stream);
        status.append(R"(,"played":)");
        append_number(status, played);
        status.append(R"(,"buffered_ms":)");
        append_number(status, buffered_ms);
        status.append(R"(,"underruns":)");
        append_number(status, static_cast<std::int64_t>(sink->underruns()));
        status.append(R"(,"state":")").append(state).append("\"");
        if (!network_type.empty()) {
            status.append(R"(,"network":{"type":")").append(network_type).append("\"");
            if (network_signal != 0) {
                status.append(R"(,"signal_dbm":)");
                append_number(status, network_signal);
            }
            status.append("}");
        }
        status.append("}");
        lock.unlock();
        tell_ended(*to, ended);
        to->send_json_text(status, send_deadline());
    }
}

}  // namespace ondelle

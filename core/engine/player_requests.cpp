// What the sessions ask of the player: the sender coming and going, stream starts, audio and
// ends to queue, stop, flush, pause, the volume asked for, the track and artwork, each in one
// place. Every request is made with the player lock
// held and wakes whoever waits on the shared condition.
#include <algorithm>
#include <limits>
#include <utility>

#include "endpoint.h"

namespace ondelle {

std::shared_ptr<Conn> Endpoint::take_sender(const std::shared_ptr<Conn>& conn,
                                            const std::string& name, std::string& previous_name) {
    std::shared_ptr<Conn> previous = std::exchange(sender, conn);
    previous_name = std::exchange(sender_name, name);
    drop_art();
    request_stop();
    forget_owed_ends();
    return previous;
}

bool Endpoint::release_sender(const Conn& conn) {
    if (sender.get() != &conn) return false;
    sender.reset();
    sender_name.clear();
    current_track = Track();
    current_gain = std::numeric_limits<double>::quiet_NaN();
    spare_buffers.clear();
    request_stop();
    forget_owed_ends();
    return true;
}

std::optional<Endpoint::VolumeState> Endpoint::set_requested_volume(
    std::optional<std::int64_t> level, std::optional<bool> muted) {
    if (settings.volume_kind == "fixed") return std::nullopt;
    if (level) settings.volume = std::int32_t(std::clamp<std::int64_t>(*level, 0, 100));
    if (muted)
        settings.muted = *muted;
    else if (level)
        settings.muted = false;  // setting a level unmutes
    return VolumeState{settings.volume, settings.muted};
}

void Endpoint::store_track(Track track) {
    if (track.album != art_album || track.art != art_key) drop_art();
    current_track = std::move(track);
}

void Endpoint::clear_queue() {
    queue.clear();
    ++generation;
    cond.notify_all();
}

void Endpoint::request_stop() {
    clear_queue();
    pause_request = false;
    stop_request = true;
    cond.notify_all();
}

void Endpoint::request_flush() {
    // Streams that never reached the output are owed their end as much as the playing one.
    queue.for_each([this](const QueueEntry& entry) {
        if (entry.type == QueueEntry::StreamStart && flushed_starts.size() < max_owed_ends)
            flushed_starts.push_back(entry.stream);
    });
    clear_queue();
    flush_request = true;
    discard_flushed = true;
    flushed_stream = current_stream;
    cond.notify_all();
}

void Endpoint::request_pause(bool on) {
    pause_request = on;
    cond.notify_all();
}

void Endpoint::forget_owed_ends() {
    owed_ends.clear();
    flushed_starts.clear();
    cond.notify_all();  // the player may wait for room in the record
}

bool Endpoint::is_flushed(std::uint32_t stream) const {
    return discard_flushed && stream == static_cast<std::uint32_t>(flushed_stream);
}

void Endpoint::queue_start(QueueEntry entry) {
    current_stream = entry.stream;
    discard_flushed = false;
    queue.push(std::move(entry));
    cond.notify_all();
}

void Endpoint::queue_audio(std::uint32_t stream, ByteVector& data, std::uint64_t received) {
    QueueEntry entry;
    entry.type = QueueEntry::Audio;
    entry.stream = static_cast<std::int32_t>(stream);
    entry.data = std::move(data);
    queue.push(std::move(entry));
    bytes_received += received + 13;
    // The player's emptied buffers come back as receive buffers.
    if (!spare_buffers.empty()) {
        data = std::move(spare_buffers.back());
        spare_buffers.pop_back();
    }
    cond.notify_all();
}

void Endpoint::queue_end(std::int32_t stream) {
    QueueEntry entry;
    entry.type = QueueEntry::StreamEnd;
    entry.stream = stream;
    queue.push(std::move(entry));
    cond.notify_all();
}

void Endpoint::drop_art() {
    if (art.empty()) return;
    art.clear();
    ++art_version;
}

void Endpoint::store_art(std::string data, std::string mime, std::int32_t stream) {
    const bool same = data == art;
    art = std::move(data);
    art_mime = std::move(mime);
    art_stream = stream;
    art_album = current_track.album;
    art_key = current_track.art;
    if (!same) ++art_version;
}

}  // namespace ondelle

// FLAC payloads decoded message by message, and local-file streams read from the program's
// own copy of the file, paced by the sender's requests.
#include "engine/stream_decoding.h"

#include <algorithm>

#include "endpoint.h"
#include "engine/flac_stream_decoder.h"
#include "engine/player_queue.h"

namespace ondelle {
namespace {

constexpr const char* flac_does_not_decode =
    "a FLAC stream that does not decode: dropped \xE2\x80\x94 pcm for this sender from now on";

}  // namespace

struct StreamDecoding::State {
    State(Endpoint& endpoint, Conn& conn) : endpoint(endpoint), conn(conn) {}

    Endpoint& endpoint;
    Conn& conn;
    std::int32_t accepted_stream = 0;
    bool flac_active = false;
    FlacStreamDecoder flac;
    ByteVector decoded;
    std::unique_ptr<LocalDecoder> local_decoder;
    std::int32_t local_stream = 0;
    std::int32_t local_frame_bytes = 0;
    std::int32_t local_rate = 0;
    ByteVector local_buffer;
};

StreamDecoding::StreamDecoding(Endpoint& endpoint, Conn& conn)
    : state_(std::make_unique<State>(endpoint, conn)) {}

StreamDecoding::~StreamDecoding() = default;

StreamDecoding::Start StreamDecoding::start(std::unique_lock<std::mutex>& lock,
                                            const QueueEntry& entry, bool playable) {
    State& s = *state_;
    Endpoint& endpoint = s.endpoint;
    const Format& format = entry.format;
    const bool flac = format.codec == "flac" && format.kind == "pcm";
    const bool local = format.codec == "local" && format.kind == "pcm";
    const bool plain = flac || format.codec == "pcm";
    s.local_decoder.reset();
    if (playable && local) {
        std::string error;
        if (endpoint.local_files && endpoint.open_local && !entry.track.path.empty()) {
            lock.unlock();
            auto decoder = endpoint.open_local(entry.track, format, error);
            lock.lock();
            if (endpoint.sender.get() != &s.conn) return Start::displaced;
            if (decoder) {
                s.local_decoder = std::move(decoder);
                s.local_stream = entry.stream;
                s.local_frame_bytes = format.frame_bytes();
                s.local_rate = format.rate;
            }
        }
        if (!s.local_decoder) {
            lock.unlock();
            Json reply = make_message("error");
            reply.set("code", Json("local"));
            reply.set("stream", Json(entry.stream));
            reply.set("message", Json(error.empty() ? "this endpoint keeps no copy of that file"
                                                    : std::move(error)));
            s.conn.send_json(reply);
            return Start::answered;
        }
    }
    if (!playable || !(s.local_decoder || plain) || (flac && !s.flac.init(format.bits)))
        return Start::refused;
    s.accepted_stream = entry.stream;
    s.flac_active = flac;
    return Start::accepted;
}

StreamDecoding::Payload StreamDecoding::decode(Message& m) {
    State& s = *state_;
    if (s.local_decoder && m.stream == static_cast<std::uint32_t>(s.local_stream)) {
        // The sender asks for frames; the payload's first four bytes say how many.
        std::uint32_t requested = 0;
        if (m.data.size() >= 4) {
            requested = std::uint32_t{m.data[0]} | (std::uint32_t{m.data[1]} << 8) |
                        (std::uint32_t{m.data[2]} << 16) | (std::uint32_t{m.data[3]} << 24);
        }
        const std::uint64_t n = std::min<std::uint64_t>(
            requested, static_cast<std::uint64_t>(std::max(s.local_rate, 0)));
        const auto frame = static_cast<std::uint64_t>(s.local_frame_bytes);
        s.local_buffer.resize(n * frame);
        const std::uint64_t got = std::min(s.local_decoder->read(s.local_buffer.data(), n), n);
        s.local_buffer.resize(got * frame);
        if (s.local_buffer.empty()) return Payload::nothing;
        std::swap(m.data, s.local_buffer);
    }
    if (s.flac_active && m.stream == static_cast<std::uint32_t>(s.accepted_stream)) {
        if (!s.flac.decode(m.data.data(), m.data.size(), s.decoded)) {
            {
                std::lock_guard lock(s.endpoint.mutex);
                s.endpoint.flac_refused = s.conn.sender_id;
            }
            s.endpoint.log(flac_does_not_decode);
            return Payload::drop;
        }
        std::swap(m.data, s.decoded);
    }
    return Payload::frames;
}

}  // namespace ondelle

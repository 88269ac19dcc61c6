// The sender: takes over from the previous sender, describes each stream with "start",
// streams its audio, and steers playback. Audio is moved from the receive buffer into the
// queue, never copied, and the player's emptied buffers come back as receive buffers.
#include <cmath>

#include "endpoint.h"
#include "engine/capabilities.h"
#include "protocol/role_loop.h"
#include "protocol/roles.h"
#include "support/base64.h"
#ifndef ONDELLE_REDUCED_CORE
#include "engine/flac_stream_decoder.h"
#endif

namespace ondelle {
namespace {

constexpr const char* queues_too_much = "sender queues far more than buffer_ms: dropped";
constexpr const char* sends_too_far_ahead = "sender sends far more than buffer_ms ahead: dropped";
constexpr const char* flac_does_not_decode =
    "a FLAC stream that does not decode: dropped \xE2\x80\x94 pcm for this sender from now on";

bool contains(const std::vector<std::int32_t>& values, std::int32_t value) {
    return std::find(values.begin(), values.end(), value) != values.end();
}

bool contains(const std::vector<std::string>& values, const std::string& value) {
    return std::find(values.begin(), values.end(), value) != values.end();
}

double stream_gain(const EndpointSettings& settings, const Json& start, const Format& format) {
    const Json* gain = start.find("gain_db");
    if (!settings.gain || !gain || format.kind != "pcm") return std::nan("");
    const double db = gain->as_double(0.0);
    if (std::isnan(db)) return db;
    return std::clamp(db, -60.0, 24.0);
}

class SenderSession {
  public:
    SenderSession(Endpoint& endpoint, const std::shared_ptr<Conn>& conn, const std::string& name)
        : endpoint_(endpoint), conn_(conn), name_(name) {}

    void run() {
        take_over();
#ifndef ONDELLE_REDUCED_CORE
        flac_ = std::make_unique<FlacStreamDecoder>();
#endif
        serve_frames(endpoint_, *conn_, message_, [this](Message& m) {
            switch (m.type) {
                case Control:
                    return on_control(m.json);
                case Audio:
                    return on_audio(m);
                case Blob:
                    return on_blob(m);
                default:
                    return true;
            }
        });
        finish();
    }

  private:
    bool is_sender() const {
        return endpoint_.sender == conn_;
    }

    void take_over() {
        std::shared_ptr<Conn> previous;
        std::shared_ptr<Conn> displaced_remote;
        {
            std::lock_guard lock(endpoint_.mutex);
            previous = std::exchange(endpoint_.sender, conn_);
            if (!endpoint_.art.empty()) {
                endpoint_.art.clear();
                ++endpoint_.art_version;
            }
            if (endpoint_.remote && endpoint_.remote->sender_id != conn_->sender_id) {
                displaced_remote = endpoint_.remote;
            }
            endpoint_.sender_name = name_;
            endpoint_.clear_queue();
            endpoint_.pause_request = false;
            endpoint_.stop_request = true;
            const auto& s = endpoint_.settings;
            const bool away = s.away_buffer_ms >= 1 && is_away_sender(s, *conn_);
            conn_->send_json(build_welcome(endpoint_, conn_->proto, conn_->burst,
                                           flac_allowed(endpoint_, *conn_), away));
        }
        if (previous && previous != conn_) send_stopped_notice(*previous, name_);
        if (displaced_remote) send_stopped_notice(*displaced_remote, name_);
        endpoint_.broadcast_capabilities();
        endpoint_.log("sender: " + name_);
    }

    bool on_control(const Json& message) {
        const std::string type = message_type(message);
        std::unique_lock lock(endpoint_.mutex);
        if (!is_sender()) return false;
        if (type == "start") return on_start(lock, message);
        if (type == "end") {
            if (endpoint_.queue.queued_bytes() >= endpoint_.capacity())
                return drop(lock, queues_too_much);
            QueueEntry entry;
            entry.type = QueueEntry::StreamEnd;
            entry.stream = static_cast<std::int32_t>(message.get("stream").as_int(0));
            endpoint_.queue.push(std::move(entry));
        } else if (type == "flush") {
            endpoint_.clear_queue();
            endpoint_.flush_request = true;
            endpoint_.discard_flushed = true;
            endpoint_.flushed_stream = endpoint_.current_stream;
        } else if (type == "pause") {
            endpoint_.pause_request = true;
        } else if (type == "resume") {
            endpoint_.pause_request = false;
        } else if (type == "stop") {
            endpoint_.clear_queue();
            endpoint_.pause_request = false;
            endpoint_.stop_request = true;
        } else if (type == "volume") {
            on_volume(lock, message);
            return true;
        } else if (type == "art") {
            on_art(message);
            return true;
        } else if (type == "meta") {
            on_meta(lock, message);
            return true;
        } else if (type.rfind("library", 0) == 0) {
            lock.unlock();
            library_request(endpoint_, *conn_, type, message);
            return true;
        } else if (native_request(lock, type, message)) {
            return true;
        }
        endpoint_.cond.notify_all();
        return true;
    }

    bool on_start(std::unique_lock<std::mutex>& lock, const Json& message) {
        if (endpoint_.queue.queued_bytes() >= endpoint_.capacity())
            return drop(lock, queues_too_much);
        const auto& s = endpoint_.settings;
        QueueEntry entry;
        entry.type = QueueEntry::StreamStart;
        entry.stream = static_cast<std::int32_t>(message.get("stream").as_int(0));
        entry.format = parse_format(message.get("format"));
        entry.track = parse_track(message.get("track"));
        entry.processed = message.get("processed").as_bool(false);
        entry.gain_db = stream_gain(s, message, entry.format);
        const Format& format = entry.format;

        bool playable = format.valid() && format.channels == 2 &&
                        contains(format.is_dsd() ? s.dsd_rates : s.rates, format.rate);
        if (playable)
            playable = format.kind == "pcm" ? contains(s.bits, format.bits)
                                            : contains(s.layouts, format.layout);

#ifdef ONDELLE_REDUCED_CORE
        const bool plain = format.codec == "pcm";
#else
        const bool flac = format.codec == "flac" && format.kind == "pcm";
        const bool local = format.codec == "local" && format.kind == "pcm";
        const bool plain = flac || format.codec == "pcm";
        local_decoder_.reset();
        if (playable && local) {
            std::string error;
            if (endpoint_.local_files && endpoint_.open_local && !entry.track.path.empty()) {
                lock.unlock();
                auto decoder = endpoint_.open_local(entry.track, format, error);
                lock.lock();
                if (!is_sender()) return false;
                if (decoder) {
                    local_decoder_ = std::move(decoder);
                    local_stream_ = entry.stream;
                    local_frame_bytes_ = format.frame_bytes();
                    local_rate_ = format.rate;
                }
            }
            if (!local_decoder_) {
                lock.unlock();
                Json reply = make_message("error");
                reply.set("code", Json("local"));
                reply.set("stream", Json(entry.stream));
                reply.set(
                    "message",
                    Json(error.empty() ? std::string("this endpoint keeps no copy of that file")
                                       : error));
                conn_->send_json(reply);
                return true;
            }
        }
        const bool accepted =
            playable && (local_decoder_ || plain) && (!flac || flac_->init(format.bits));
#endif
#ifdef ONDELLE_REDUCED_CORE
        const bool accepted = playable && plain;
#endif
        if (!accepted) {
            lock.unlock();
            Json reply = make_message("error");
            reply.set("code", Json("format"));
            reply.set("message",
                      Json("this endpoint does not play " + dump_json(message.get("format"))));
            conn_->send_json(reply);
            return true;
        }
        accepted_stream_ = entry.stream;
#ifndef ONDELLE_REDUCED_CORE
        flac_active_ = flac;
#endif
        endpoint_.current_stream = entry.stream;
        endpoint_.discard_flushed = false;
        endpoint_.queue.push(std::move(entry));
        endpoint_.cond.notify_all();
        return true;
    }

    void on_volume(std::unique_lock<std::mutex>& lock, const Json& message) {
        auto& s = endpoint_.settings;
        if (s.volume_kind == "fixed") return;
        const Json* value = message.find("value");
        const Json* muted = message.find("muted");
        if (value)
            s.volume =
                static_cast<std::int32_t>(std::clamp<std::int64_t>(value->as_int(0), 0, 100));
        if (muted) {
            s.muted = muted->as_bool(false);
        } else if (value) {
            s.muted = false;  // setting a level unmutes
        }
        const std::int32_t volume = s.volume;
        const bool is_muted = s.muted;
        lock.unlock();
        if (endpoint_.on_volume) endpoint_.on_volume(volume, is_muted);
    }

    void on_art(const Json& message) {
        std::string data = base64_decode(message.get("data").as_string(""));
        if (data.empty()) return;
        const bool same = data == endpoint_.art;
        endpoint_.art = std::move(data);
        endpoint_.art_mime = message.get("mime").as_string("image/jpeg");
        note_art_stream(static_cast<std::int32_t>(message.get("stream").as_int(0)), same);
    }

    void on_meta(std::unique_lock<std::mutex>& lock, const Json& message) {
        Track track = parse_track(message.get("track"));
        if (!endpoint_.art.empty() &&
            (track.album != endpoint_.art_album || track.art != endpoint_.art_key)) {
            endpoint_.art.clear();
            ++endpoint_.art_version;
        }
        endpoint_.current_track = track;
        lock.unlock();
        if (endpoint_.on_meta) endpoint_.on_meta(track, false);
    }

    void note_art_stream(std::int32_t stream, bool same) {
        endpoint_.art_stream = stream;
        endpoint_.art_album = endpoint_.current_track.album;
        endpoint_.art_key = endpoint_.current_track.art;
        if (!same) ++endpoint_.art_version;
    }

    bool on_blob(Message& m) {
        if (m.blob_kind != StreamArt || m.data.empty()) return true;
        std::lock_guard lock(endpoint_.mutex);
        if (!is_sender()) return false;
        const bool same = endpoint_.art.size() == m.data.size() &&
                          std::equal(m.data.begin(), m.data.end(), endpoint_.art.begin());
        endpoint_.art.assign(m.data.begin(), m.data.end());
        endpoint_.art_mime = m.blob_mime.empty() ? std::string("image/jpeg") : m.blob_mime;
        note_art_stream(static_cast<std::int32_t>(m.stream), same);
        return true;
    }

    // The native-playback messages; false when type is none of them.
    bool native_request(std::unique_lock<std::mutex>& lock, const std::string& type,
                        const Json& message) {
        if (type != "handoff" && type != "native" && type != "native_attach" &&
            type != "takeback" && type != "native_control") {
            return false;
        }
        lock.unlock();
        Json reply = make_message(type.c_str());
        if (type == "handoff") {
            reply.set("accepted",
                      Json(endpoint_.on_handoff ? endpoint_.on_handoff(message) : false));
        } else if (type == "native") {
            reply.set("accepted", Json(endpoint_.on_native ? endpoint_.on_native(message) : false));
        } else if (type == "native_attach") {
            const Json state = endpoint_.on_native_attach ? endpoint_.on_native_attach() : Json();
            const Json* tracks = state.find("tracks");
            Json empty_list;
            empty_list.type = Json::Array;
            reply.set("tracks", tracks ? *tracks : empty_list);
            reply.set("index", Json(state.get("index").as_int(-1)));
            reply.set("position_ms", Json(state.get("position_ms").as_int(0)));
            reply.set("state", Json(state.get("state").as_string("paused")));
        } else if (type == "takeback") {
            const Json state = endpoint_.on_takeback ? endpoint_.on_takeback() : Json();
            reply.set("tracks", state.get("tracks"));
            reply.set("index", Json(state.get("index").as_int(0)));
            reply.set("position_ms", Json(state.get("position_ms").as_int(0)));
        } else {
            if (endpoint_.on_native_control) {
                endpoint_.on_native_control(message.get("action").as_string(""),
                                            message.get("ms").as_int(-1));
            }
            return true;
        }
        conn_->send_json(reply);
        return true;
    }

    bool on_audio(Message& m) {
        const std::size_t received = m.data.size();
#ifndef ONDELLE_REDUCED_CORE
        if (local_decoder_ && m.stream == static_cast<std::uint32_t>(local_stream_)) {
            std::uint32_t requested = 0;
            if (m.data.size() >= 4) {
                requested = std::uint32_t{m.data[0]} | (std::uint32_t{m.data[1]} << 8) |
                            (std::uint32_t{m.data[2]} << 16) | (std::uint32_t{m.data[3]} << 24);
            }
            const std::uint64_t n = std::min<std::uint64_t>(
                requested, static_cast<std::uint64_t>(std::max(local_rate_, 0)));
            const std::uint64_t frame = static_cast<std::uint64_t>(local_frame_bytes_);
            local_buffer_.resize(n * frame);
            const std::uint64_t got = std::min(local_decoder_->read(local_buffer_.data(), n), n);
            local_buffer_.resize(got * frame);
            if (local_buffer_.empty()) return true;
            std::swap(m.data, local_buffer_);
        }
        if (flac_active_ && m.stream == static_cast<std::uint32_t>(accepted_stream_)) {
            if (!flac_->decode(m.data.data(), m.data.size(), decoded_)) {
                {
                    std::lock_guard lock(endpoint_.mutex);
                    endpoint_.flac_refused = conn_->sender_id;
                }
                endpoint_.log(flac_does_not_decode);
                return false;
            }
            std::swap(m.data, decoded_);
        }
#endif
        std::unique_lock lock(endpoint_.mutex);
        if (!is_sender()) return false;
        if (endpoint_.discard_flushed &&
            m.stream == static_cast<std::uint32_t>(endpoint_.flushed_stream))
            return true;
        wait_for_room(lock);
        if (endpoint_.is_stopping() || !is_sender()) return false;
        if (endpoint_.queue.queued_bytes() >= endpoint_.capacity())
            return drop(lock, sends_too_far_ahead);
        QueueEntry entry;
        entry.type = QueueEntry::Audio;
        entry.stream = static_cast<std::int32_t>(m.stream);
        entry.data = std::move(m.data);
        endpoint_.queue.push(std::move(entry));
        endpoint_.bytes_received += received + 13;
        if (!endpoint_.spare_buffers.empty()) {
            m.data = std::move(endpoint_.spare_buffers.back());
            endpoint_.spare_buffers.pop_back();
        }
        endpoint_.cond.notify_all();
        return true;
    }

    // Waits while the sender is further ahead than its buffer allows; a paused player does
    // not make it wait, so a sender that keeps sending then runs into the capacity.
    void wait_for_room(std::unique_lock<std::mutex>& lock) {
        const auto& s = endpoint_.settings;
        const bool away = s.away_buffer_ms >= 1 && is_away_sender(s, *conn_);
        const double limit = (away ? s.away_buffer_ms : s.buffer_ms) + 2000.0;
        while (!endpoint_.is_stopping()) {
            if (!is_sender() || endpoint_.pause_request) return;
            if (endpoint_.queued_ms() < limit &&
                endpoint_.queue.queued_bytes() < endpoint_.capacity() / 2)
                return;
            endpoint_.cond.wait(lock);
        }
    }

    bool drop(std::unique_lock<std::mutex>& lock, const char* line) {
        lock.unlock();
        endpoint_.log(line);
        return false;
    }

    void finish() {
        bool was_sender = false;
        {
            std::lock_guard lock(endpoint_.mutex);
            if (is_sender()) {
                was_sender = true;
                endpoint_.sender.reset();
                endpoint_.sender_name.clear();
                endpoint_.current_track = Track();
                endpoint_.current_gain = std::nan("");
                endpoint_.clear_queue();
                endpoint_.spare_buffers.clear();
                endpoint_.stop_request = true;
            }
        }
        if (was_sender) endpoint_.broadcast_capabilities();
        conn_->close();
    }

    Endpoint& endpoint_;
    const std::shared_ptr<Conn>& conn_;
    const std::string& name_;
    Message message_;
    std::int32_t accepted_stream_ = 0;
#ifndef ONDELLE_REDUCED_CORE
    bool flac_active_ = false;
    std::unique_ptr<FlacStreamDecoder> flac_;
    ByteVector decoded_;
    std::unique_ptr<LocalDecoder> local_decoder_;
    std::int32_t local_stream_ = 0;
    std::int32_t local_frame_bytes_ = 0;
    std::int32_t local_rate_ = 0;
    ByteVector local_buffer_;
#endif
};

}  // namespace

void sender_session(Endpoint& endpoint, const std::shared_ptr<Conn>& conn,
                    const std::string& name) {
    SenderSession(endpoint, conn, name).run();
}

}  // namespace ondelle

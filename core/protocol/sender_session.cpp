// The sender: takes over from the previous sender, describes each stream with "start",
// streams its audio, and steers playback. Audio is moved from the receive buffer into the
// queue, never copied, and the player's emptied buffers come back as receive buffers.
#include <cmath>

#include "endpoint.h"
#include "engine/capabilities.h"
#include "engine/core_variant.h"
#include "engine/stream_decoding.h"
#include "protocol/role_loop.h"
#include "protocol/roles.h"
#include "support/base64.h"

namespace ondelle {
namespace {

constexpr const char* queues_too_much = "sender queues far more than buffer_ms: dropped";
constexpr const char* sends_too_far_ahead = "sender sends far more than buffer_ms ahead: dropped";

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
        : endpoint_(endpoint),
          conn_(conn),
          name_(name),
          away_(endpoint.settings.away_buffer_ms >= 1 && is_away_sender(endpoint.settings, *conn)),
          decoding_(endpoint, *conn) {}

    void run() {
        take_over();
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
    bool is_sender() const { return endpoint_.sender == conn_; }

    void take_over() {
        std::shared_ptr<Conn> previous;
        std::string previous_name;
        std::shared_ptr<Conn> displaced_remote;
        {
            std::lock_guard lock(endpoint_.mutex);
            previous = endpoint_.take_sender(conn_, name_, previous_name);
            if (endpoint_.remote && endpoint_.remote->sender_id != conn_->sender_id) {
                displaced_remote = endpoint_.remote;
            }
            conn_->send_json(build_welcome(endpoint_, conn_->proto, conn_->burst,
                                           flac_allowed(endpoint_, *conn_), away_));
            // Under the lock: the displaced sender's session, which checks under it whether it
            // is still the sender, would otherwise close its connection before the notice
            // went out, and that sender would never learn why it was cut off.
            if (previous && previous != conn_) send_stopped_notice(*previous, name_);
        }
        if (displaced_remote) send_stopped_notice(*displaced_remote, name_);
        endpoint_.broadcast_capabilities();
        endpoint_.log("sender: " + name_);
        if (previous && previous != conn_)
            endpoint_.log("sender " + previous_name + " taken over by " + name_);
    }

    bool on_control(const Json& message) {
        const std::string type = message_type(message);
        std::unique_lock lock(endpoint_.mutex);
        if (!is_sender()) return false;
        if (type == "start") return on_start(lock, message);
        if (type == "end") {
            if (endpoint_.queue.queued_bytes() >= endpoint_.capacity())
                return drop(lock, queues_too_much);
            endpoint_.queue_end(static_cast<std::int32_t>(message.get("stream").as_int(0)));
        } else if (type == "flush") {
            endpoint_.request_flush();
        } else if (type == "pause") {
            endpoint_.request_pause(true);
        } else if (type == "resume") {
            endpoint_.request_pause(false);
        } else if (type == "stop") {
            endpoint_.request_stop();
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
        } else {
            native_request(lock, type, message);
        }
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

        switch (decoding_.start(lock, entry, playable)) {
            case StreamDecoding::Start::accepted:
                break;
            case StreamDecoding::Start::refused:
                lock.unlock();
                conn_->send_json(make_error(
                    "format", "this endpoint does not play " + dump_json(message.get("format"))));
                return true;
            case StreamDecoding::Start::answered:
                return true;
            case StreamDecoding::Start::displaced:
                return false;
        }
        endpoint_.queue_start(std::move(entry));
        return true;
    }

    void on_volume(std::unique_lock<std::mutex>& lock, const Json& message) {
        const Json* value = message.find("value");
        const Json* muted = message.find("muted");
        const auto state = endpoint_.set_requested_volume(
            value ? std::optional(value->as_int(0)) : std::nullopt,
            muted ? std::optional(muted->as_bool(false)) : std::nullopt);
        lock.unlock();
        if (state && endpoint_.on_volume) endpoint_.on_volume(state->volume, state->muted);
    }

    void on_art(const Json& message) {
        std::string data = base64_decode(message.get("data").as_string(""));
        if (data.empty()) return;
        endpoint_.store_art(std::move(data), message.get("mime").as_string("image/jpeg"),
                            static_cast<std::int32_t>(message.get("stream").as_int(0)));
    }

    void on_meta(std::unique_lock<std::mutex>& lock, const Json& message) {
        Track track = parse_track(message.get("track"));
        endpoint_.store_track(track);
        lock.unlock();
        if (endpoint_.on_meta) endpoint_.on_meta(track, false);
    }

    bool on_blob(Message& m) {
        if (m.blob_kind != StreamArt || m.data.empty()) return true;
        std::lock_guard lock(endpoint_.mutex);
        if (!is_sender()) return false;
        endpoint_.store_art(std::string(m.data.begin(), m.data.end()),
                            m.blob_mime.empty() ? std::string("image/jpeg") : m.blob_mime,
                            static_cast<std::int32_t>(m.stream));
        return true;
    }

    // The native-playback messages; other types are ignored.
    void native_request(std::unique_lock<std::mutex>& lock, const std::string& type,
                        const Json& message) {
        if (type != "handoff" && type != "native" && type != "native_attach" &&
            type != "takeback" && type != "native_control") {
            return;
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
            reply.set("tracks", tracks ? *tracks : Json::array());
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
            return;
        }
        conn_->send_json(reply);
    }

    bool on_audio(Message& m) {
        const std::size_t received = m.data.size();
        switch (decoding_.decode(m)) {
            case StreamDecoding::Payload::frames:
                break;
            case StreamDecoding::Payload::nothing:
                return true;
            case StreamDecoding::Payload::drop:
                return false;
        }
        std::unique_lock lock(endpoint_.mutex);
        if (!is_sender()) return false;
        if (endpoint_.is_flushed(m.stream)) return true;
        wait_for_room(lock);
        if (endpoint_.is_stopping() || !is_sender()) return false;
        if (endpoint_.queue.queued_bytes() >= endpoint_.capacity())
            return drop(lock, sends_too_far_ahead);
        endpoint_.queue_audio(m.stream, m.data, received);
        return true;
    }

    // Waits while the sender is further ahead than its buffer allows; a paused player does
    // not make it wait, so a sender that keeps sending then runs into the capacity.
    void wait_for_room(std::unique_lock<std::mutex>& lock) {
        const auto& s = endpoint_.settings;
        const double limit = (away_ ? s.away_buffer_ms : s.buffer_ms) + 2000.0;
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
            was_sender = endpoint_.release_sender(*conn_);
        }
        if (was_sender) {
            endpoint_.broadcast_capabilities();
            endpoint_.log("sender left: " + name_);
        }
        conn_->close();
    }

    Endpoint& endpoint_;
    const std::shared_ptr<Conn>& conn_;
    const std::string& name_;
    // A far-away sender (relayed over loopback) is given the longer buffer.
    const bool away_;
    Message message_;
    StreamDecoding decoding_;
};

}  // namespace

void sender_session(Endpoint& endpoint, const std::shared_ptr<Conn>& conn,
                    const std::string& name) {
    SenderSession(endpoint, conn, name).run();
}

}  // namespace ondelle

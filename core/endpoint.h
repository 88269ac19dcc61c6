// The endpoint core's central object: settings, hooks, peer lists, play state and every
// thread of the core, with the player lock that guards what those threads share.
//
// Where its methods live: protocol/listener.cpp (listen, run, the sessions' threads),
// protocol/endpoint.cpp (construction, stop, the sender and the volume it is told),
// engine/player_requests.cpp (what the sessions ask of the player), engine/player.cpp (the
// player thread), engine/status.cpp (the status thread and "ended"), engine/capabilities.cpp
// (the capabilities sent to peers), engine/core_variant_*.cpp (what one core variant adds).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "conn.h"
#include "engine/local_decoder.h"
#include "engine/player_queue.h"
#include "engine/track.h"
#include "format.h"
#include "json.h"
#include "support/socket.h"

namespace ondelle {

class Sink;

struct EndpointSettings {
    std::string id;
    std::string name;
    std::string model;
    std::string vendor;
    std::string dsp;
    std::vector<std::int32_t> rates{44100, 48000, 88200, 96000, 176400, 192000};
    std::vector<std::int32_t> bits{16, 24, 32};
    std::vector<std::int32_t> dsd_rates;
    std::vector<std::string> layouts{"u8"};
    std::string volume_kind = "fixed";
    std::int32_t volume = 100;
    std::int32_t volume_steps = 0;
    bool muted = false;
    std::int32_t buffer_ms = 2000;
    std::int32_t burst_ms = 0;
    std::int32_t away_buffer_ms = 0;
    std::int32_t away_burst_ms = 0;
    std::string local_sender;
    bool handoff = false;
    bool gain = false;
    std::vector<std::string> native;
    bool any_address = false;
    std::string bind_address;
};

// The byte budget of the play queue: the two-channel byte rate of the largest format, over
// the longest buffer plus two seconds, twice, plus 16 MiB; at most 160 MiB.
std::uint64_t compute_capacity(const EndpointSettings& settings);

// A loopback connection relays a far-away sender, except the one local program that
// local_sender names.
bool is_away_sender(const EndpointSettings& settings, const Conn& conn);

class Endpoint {
  public:
    // Hooks, installed by the program after construction and before listen; empty ones are
    // never called. Called without the player lock unless noted where they are used.
#ifndef ONDELLE_REDUCED_CORE
    std::function<std::unique_ptr<LocalDecoder>(const Track&, const Format&, std::string& error)>
        open_local;
#endif
    std::function<void(std::int32_t volume, bool muted)> on_volume;
    std::function<void(const Track&, bool processed)> on_meta;
    std::function<void(const std::string& state)> on_state;
    std::function<void(const std::string& line)> on_log;
    std::function<bool(const Json& message)> on_handoff;
    std::function<Json()> on_takeback;
    std::function<bool(const Json& message)> on_native;
    std::function<void(const std::string& action, std::int64_t ms)> on_native_control;
    std::function<Json(const Json&)> on_library;
    std::function<Json(const Json&)> on_library_lists;
    std::function<Json(const Json&)> on_library_love;
    std::function<Json(const Json&)> on_library_plays;
#ifndef ONDELLE_REDUCED_CORE
    std::function<Json(const Json&)> on_library_private;
#endif
    std::function<Json()> on_native_attach;
    std::function<void(const std::string& id, std::string& data, std::string& mime)> on_library_art;
    std::function<std::string(const std::string& id, std::int64_t offset, std::int64_t length,
                              std::int64_t& total)>
        on_library_read;
    std::function<Json(const Json&)> on_command;
    std::function<Json(const Json&)> on_dsp_command;
    std::function<Json(const Json&)> on_transfer;

    // Starts the player and status threads; throws std::system_error "thread constructor
    // failed" when the system refuses one.
    Endpoint(EndpointSettings settings, Sink* sink);
    // Stops, then joins the player, status and session threads.
    ~Endpoint();
    Endpoint(const Endpoint&) = delete;
    Endpoint& operator=(const Endpoint&) = delete;

    bool listen(int port, std::string& error);
    // The accept loop, on the calling thread; returns the stopping flag when it ends.
    bool run();
    // Any thread, any number of times.
    void stop();
    int local_port() const;

    bool is_stopping() const {
        return stopping_.load();
    }
    std::uint64_t capacity() const {
        return capacity_;
    }

    void send_to_sender(const Json& message);
    // True while a sender is connected. Any thread, no lock held.
    bool has_sender();
    void log(const std::string& line) const;
    // Capabilities to every connected peer (native sources to proto 1 peers). Takes the lock.
    void broadcast_capabilities();

    // The output device went away under an open stream: the player closes the sink, tells
    // the sender once with a "device" error of this message and drops the rest of the stream;
    // later streams open the sink again, which fails while the device stays away. Any thread,
    // no lock held; nothing happens when no stream is open.
    void output_lost(const std::string& message);

    // Stores the volume the program really has and tells the sender. Any thread, no lock held.
    void report_volume(std::int32_t volume, bool muted);
    struct VolumeState {
        std::int32_t volume;
        bool muted;
    };
    VolumeState volume_state();

    // The following need the player lock held (passed in where they may release it).
    // conn, named name, becomes the sender: what played stops, and what was owed to the
    // previous sender and its artwork go. Returns the previous sender (maybe conn itself or
    // none), with its name in previous_name.
    std::shared_ptr<Conn> take_sender(const std::shared_ptr<Conn>& conn, const std::string& name,
                                      std::string& previous_name);
    // conn, if it is the sender, is so no more: what played stops and what belonged to it
    // goes. True when it was the sender.
    bool release_sender(const Conn& conn);
    // The volume the sender asked for: a level (clamped to 0..100; alone, it unmutes) and a
    // mute, either may be absent. The state to apply, or none when the volume is fixed.
    std::optional<VolumeState> set_requested_volume(std::optional<std::int64_t> level,
                                                    std::optional<bool> muted);
    // The sender's track: the artwork goes when it belongs to another album or picture.
    void store_track(Track track);
    // Discards every queued entry and tells a write in progress to give up its entry.
    void clear_queue();
    // What the sessions ask of the player; each wakes the player.
    void request_stop();   // empties the queue and closes the output
    void request_flush();  // empties the queue and the output; the stream's late audio is dropped
    void request_pause(bool on);
    // The sender changes: what was owed to the previous one is not the new one's.
    void forget_owed_ends();
    bool is_flushed(std::uint32_t stream) const;  // audio of a flushed stream is dropped
    void queue_start(QueueEntry entry);
    // Moves data into the queue and hands back a spare buffer to receive into, if any.
    void queue_audio(std::uint32_t stream, ByteVector& data, std::uint64_t received);
    void queue_end(std::int32_t stream);
    void drop_art();
    void store_art(std::string data, std::string mime, std::int32_t stream);
    // Changes state; calls on_state with the lock released in between.
    void set_state(std::unique_lock<std::mutex>& lock, const std::string& name);
    // Milliseconds of queued audio in the open format.
    double queued_ms() const;

    // Where the status thread looks for wireless signal statistics ("/proc/net/wireless").
    void set_wireless_statistics(std::string path);
#ifndef ONDELLE_REDUCED_CORE
    // 0 off, 1 FLAC from away senders only ("forwarded"), 2 from every sender.
    void set_flac_mode(std::int32_t mode);
#endif

    // Everything below is shared by the core's threads and guarded by the player lock.
    std::mutex mutex;
    std::condition_variable cond;

    std::vector<std::shared_ptr<Conn>> libraries;  // oldest first, at most 8
    std::shared_ptr<Conn> remote;
    std::string remote_name;
    std::vector<std::shared_ptr<Conn>> controls;
#ifndef ONDELLE_REDUCED_CORE
    std::int32_t flac_mode = 0;
    bool local_files = false;
    std::string flac_refused;  // the sender id whose FLAC stream did not decode
#endif
    std::uint64_t bytes_received = 0;  // audio payload bytes plus 13 per Audio frame
    EndpointSettings settings;
    Sink* const sink;

    // Artwork of the playing stream.
    std::string art;
    std::string art_mime;
    std::int32_t art_version = 0;
    std::int32_t art_stream = 0;
    std::string art_album;
    std::string art_key;

    // Wireless facts for the status reports.
    std::string network_type;
    std::int32_t network_signal = 0;
    std::int64_t network_checked_ns = 0;

    std::shared_ptr<Conn> sender;

    // The play queue and the player's requests and state.
    PlayerQueue queue;
    std::vector<ByteVector> spare_buffers;  // emptied data vectors, as many as the queue holds
    std::uint64_t generation = 0;
    bool pause_request = false;
    bool stop_request = false;
    bool output_lost_request = false;
    std::string output_lost_message;
    bool flush_request = false;
    bool sink_paused = false;
    std::int64_t idle_since = 0;

    std::int32_t current_stream = 0;  // of the last accepted "start"
    std::int32_t flushed_stream = 0;
    bool discard_flushed = false;

    Format current_format;  // what the sink is open with
    bool sink_open = false;
    std::uint64_t frames_written = 0;  // never reset
    std::deque<TrackMark> marks;       // at most 8, oldest first
    // Every stream the sender started is owed one "ended", in order, once it has been heard:
    // kept apart from the marks, which a reopen, a flush or a ninth stream clears.
    std::deque<OwedEnd> owed_ends;  // in order of end; about max_owed_ends at most
    // Streams whose start a flush took out of the queue: owed an end at once.
    std::vector<std::int32_t> flushed_starts;
    bool played_out = false;  // the sink was told that nothing more follows
    std::string state = "idle";

    std::string sender_name;
    // The stream that started playing last.
    Track current_track;
    std::int32_t playing_stream = 0;
    bool current_processed = false;
    double current_gain = std::numeric_limits<double>::quiet_NaN();

  private:
    struct ConnEntry {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> finished;
        std::weak_ptr<Conn> conn;
    };

    void accept_one(net::UniqueSocket& socket, const net::PeerAddress& address,
                    const std::string& peer_text);
    // A session thread's body: a failure to get memory ends this session only.
    void serve_connection(std::shared_ptr<Conn> conn);
    void player_main();
    void status_main();
    // Sends the "ended" messages to the sender and logs each; no lock held.
    void tell_ended(Conn& to, const std::vector<Json>& ended);
    // The player's steps; each is entered and left with the lock held.
    void pause_output(std::unique_lock<std::mutex>& lock);  // once, and says "paused"
    void discard(std::unique_lock<std::mutex>& lock);
    void lose_output(std::unique_lock<std::mutex>& lock);
    void start_stream(std::unique_lock<std::mutex>& lock, QueueEntry& entry);
    void play_audio(std::unique_lock<std::mutex>& lock, QueueEntry& entry);
    void end_stream(std::unique_lock<std::mutex>& lock, const QueueEntry& entry);
    // Owes the sender an "ended" for stream once the heard position reaches end.
    void owe_end(std::int32_t stream, std::int64_t end);
    // The marks' streams that have no end yet end where the next one starts (or here).
    void end_open_marks();
    void check_idle(std::unique_lock<std::mutex>& lock);
    void close_when_idle_long(std::unique_lock<std::mutex>& lock);

    const std::uint64_t capacity_;
    std::string wireless_statistics_ = "/proc/net/wireless";  // under the player lock
    bool wireless_absent_ = false;  // the file is not there: not looked for again
    std::atomic<net::SocketHandle> listener_{net::no_socket};
    std::atomic<bool> stopping_{false};
    std::vector<ConnEntry> connections_;  // under the player lock
    std::thread player_thread_;
    std::thread status_thread_;
    // Wakes the status thread only when the endpoint stops: on the shared condition it would
    // wake for every chunk that moves through the queue.
    std::condition_variable status_wake_;
};

}  // namespace ondelle

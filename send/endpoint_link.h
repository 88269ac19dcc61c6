// One connection to an endpoint, as a sender or a control peer: the hello and the welcome,
// frames out, and a reader thread that keeps what the endpoint reports (status, ended,
// errors, a takeover, the end of the connection).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "conn.h"
#include "format.h"

namespace ondelle::send {

// What a welcome says the endpoint plays.
struct Offer {
    std::vector<std::int64_t> pcm_rates;
    std::vector<std::int64_t> pcm_bits;
    std::vector<std::int64_t> dsd_rates;
    bool dsd_u8 = false;
    bool flac = false;
    std::string name;
    std::string model;

    bool plays(const Format& format) const;
    // "PCM 44100 48000 96000 Hz at 16/24/32 bits, DSD64 DSD128"; a DSD name that stands for
    // two rates has the rate beside it: "DSD64 (2.8224 MHz) DSD64 (3.072 MHz)".
    std::string describe() const;
};

Offer read_offer(const Json& welcome);

// How long connecting and the welcome may take together.
inline constexpr std::chrono::milliseconds handshake_limit{5000};
// How long one audio frame may take to go out: the sender keeps no more in flight than the
// endpoint said it buffers, so an endpoint that takes nothing for this long is stuck.
inline constexpr std::chrono::milliseconds audio_send_limit{5000};

class EndpointLink {
  public:
    // Connects and says hello, the welcome read by the deadline; empty with error set on
    // failure.
    static std::unique_ptr<EndpointLink> open(
        const std::string& host, int port, const Json& hello, std::string& error,
        std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::now() +
                                                         handshake_limit);
    ~EndpointLink();
    EndpointLink(const EndpointLink&) = delete;
    EndpointLink& operator=(const EndpointLink&) = delete;

    const Json& welcome() const { return welcome_; }

    bool send(const Json& message);
    // False when the frame did not go out within audio_send_limit (then stuck() says so) or
    // the connection is gone.
    bool send_audio(std::uint32_t stream, const std::string& data);
    bool stuck() const { return conn_->send_timed_out(); }

    struct Report {
        std::int64_t played = 0;  // frames of the stream heard
        std::int64_t buffered_ms = 0;
        std::int64_t underruns = 0;  // while this stream played
    };
    struct State {
        // Only this run's streams that have not ended: reports about others are not kept.
        std::map<std::int64_t, Report> streams;
        std::int64_t heard_stream = 0;  // the stream the last status report was about
        std::int64_t ended_up_to = 0;   // streams end in order: every one up to this has
        std::int64_t volume = -1;       // the endpoint's volume as it last said; -1: unknown
        std::string error_code;         // the last {"t":"error"} the endpoint sent
        std::string error_message;      // its text, control characters escaped
        bool taken = false;             // another sender took over
        bool lost = false;              // the connection ended
    };
    State state();
    // The streams this run starts, before it starts them; reports about others are dropped.
    void expect_stream(std::int64_t stream);
    // Forgets the last error, once it has been dealt with.
    void clear_error();
    // Waits until the stream has ended, the connection is lost or taken, or the time is up.
    bool wait_ended(std::int64_t stream, std::chrono::milliseconds timeout);
    // Wakes up every time the endpoint reports something, or after the time.
    void wait_report(std::chrono::milliseconds timeout);

    void close();

  private:
    explicit EndpointLink(std::shared_ptr<Conn> conn) : conn_(std::move(conn)) {}
    void read_reports();

    std::shared_ptr<Conn> conn_;
    Json welcome_;
    std::mutex mutex_;
    std::condition_variable changed_;
    State state_;
    // The endpoint counts underruns since it started: a stream's own are those since the
    // count it had when the stream was first reported.
    std::int64_t endpoint_underruns_ = -1;
    std::map<std::int64_t, std::int64_t> underruns_before_;
    std::thread reader_;
};

}  // namespace ondelle::send

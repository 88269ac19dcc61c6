// One connection to an endpoint, as a sender or a control peer: the hello and the welcome,
// frames out, and a reader thread that keeps what the endpoint reports (status, ended,
// errors, a takeover, the end of the connection).
#pragma once

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
    // "PCM 44100–192000 Hz at 16/24/32 bits, DSD64 DSD128"
    std::string describe() const;
};

Offer read_offer(const Json& welcome);

class EndpointLink {
  public:
    // Connects (within a few seconds) and says hello; empty with error set on failure.
    static std::unique_ptr<EndpointLink> open(const std::string& host, int port,
                                              const Json& hello, std::string& error);
    ~EndpointLink();
    EndpointLink(const EndpointLink&) = delete;
    EndpointLink& operator=(const EndpointLink&) = delete;

    const Json& welcome() const { return welcome_; }

    bool send(const Json& message);
    // Blocks while the endpoint holds back (its flow control paces the sender).
    bool send_audio(std::uint32_t stream, const std::string& data);

    struct Report {
        std::int64_t played = 0;  // frames of the stream heard
        std::int64_t buffered_ms = 0;
        std::int64_t underruns = 0;
        bool ended = false;
    };
    struct State {
        std::map<std::int64_t, Report> streams;
        std::int64_t heard_stream = 0;  // the stream the last status report was about
        std::string error_code;  // the last {"t":"error"} the endpoint sent
        std::string error_message;
        bool taken = false;  // another sender took over
        bool lost = false;   // the connection ended
    };
    State state();
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
    std::thread reader_;
};

}  // namespace ondelle::send

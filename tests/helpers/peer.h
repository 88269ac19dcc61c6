// A protocol peer for tests: writes raw frames and reads the endpoint's frames back, every
// wait bounded in time.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "helpers/loopback.h"
#include "json.h"

namespace ondelle::test {

using namespace std::chrono_literals;

struct Frame {
    std::uint8_t type = 0;
    std::string payload;
    Json json() const;
};

class Peer {
  public:
    explicit Peer(Fd fd) : fd_(std::move(fd)) {}
    static Peer connect(int port, const char* host = "127.0.0.1", const char* source = nullptr);
    // Connects and says hello with the given JSON text; the welcome is read into welcome.
    static Peer hello(int port, const std::string& hello_text, std::string* welcome = nullptr,
                      const char* source = nullptr);

    bool connected() const { return fd_.get() >= 0; }
    int fd() const { return fd_.get(); }

    bool send_bytes(const std::string& bytes);
    bool send_frame(std::uint8_t type, const std::string& payload);
    bool send_json(const std::string& text) { return send_frame(1, text); }
    bool send_audio(std::uint32_t stream, const std::string& data, std::uint64_t tag = 0);

    // The next frame, or nothing when none arrives in time or the endpoint closed.
    std::optional<Frame> read_frame(std::chrono::milliseconds timeout = 5s);
    // The next Control frame's JSON text.
    std::optional<std::string> read_json(std::chrono::milliseconds timeout = 5s);
    // The next Control frame whose "t" is type, skipping every other frame.
    std::optional<std::string> read_message(const std::string& type,
                                            std::chrono::milliseconds timeout = 5s);
    // True when the endpoint closes the connection within the time, skipping any frames.
    bool wait_closed(std::chrono::milliseconds timeout = 5s);
    // True when nothing at all arrives for the whole time and the connection stays open.
    bool stays_silent(std::chrono::milliseconds time);

    void close() { fd_.reset(); }

  private:
    // Reads exactly size bytes; false on close or time-out.
    bool read_exact(char* data, std::size_t size, std::chrono::steady_clock::time_point deadline);

    Fd fd_;
};

// Sends pings on fd and never reads the pongs, until done or 60 s have passed; stuck is set
// once the endpoint has stopped reading them for a second (usually because its session is
// blocked sending to this peer; a session that is only slow catches up later).
void ping_without_reading(int fd, std::atomic<bool>& stuck, const std::atomic<bool>& done);

// Frame encoding for tests that build raw bytes.
std::string frame_header(std::uint32_t length, std::uint8_t type);
std::string be32(std::uint32_t v);
std::string be64(std::uint64_t v);

}  // namespace ondelle::test

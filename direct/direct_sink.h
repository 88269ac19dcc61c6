// The Sink of Ondelle-Direct: converts the stream into the ring of the Asio (32-bit stereo
// PCM, or one DSD byte per channel) and starts the driver once two half buffers wait; the
// buffer switch takes them from there.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>

#include "asio.h"
#include "sink.h"
#include "support/bytes.h"

namespace ondelle::direct {

class DirectSink final : public Sink {
  public:
    // asio is lent by start-up and outlives the sink; caps are what start-up measured, asked
    // for again when a driver that went away is back.
    DirectSink(Asio* asio, Caps caps) : asio_(asio), caps_(std::move(caps)) {}

    bool open(const Format& format, std::string& error) override;
    std::uint64_t write(const std::uint8_t* data, std::uint64_t frames) override;
    void pause(bool on) override { asio_->paused = on; }
    void flush() override;
    void drain() override;
    void play_out() override;
    void close() override;
    std::int64_t delay() override;
    std::uint64_t underruns() override { return asio_->underrun_count.load(); }

    // For shutdown, from any thread: a write waiting for room gives up (returns 0), so that
    // a driver that stopped taking audio cannot hold the player for ever.
    void stop_writer();

  private:
    // Sets armed and starts the driver; false (logged) when it will not start.
    bool arm();
    // After the driver went away: loads it again and asks what it plays now; false with the
    // reason while it stays away.
    bool refresh_caps(std::string& error);

    Asio* const asio_;
    Caps caps_;
    SampleConverter converter_;
    Format format_;
    ByteVector scratch_;
    bool dsd_ = false;
    std::uint64_t stall_said_at_ = 0;  // the driver's last call when the stall was said
    std::atomic<bool> is_open_{false};
};

}  // namespace ondelle::direct

// The Sink of ondelle-wasapi: plays on one render device through WASAPI, exclusive by default
// or through the Windows mixer, from a byte ring that a render thread of the "Pro Audio"
// class moves into the device buffer at every device event.
#pragma once

#include <windows.h>

#include <audioclient.h>
#include <mmdeviceapi.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "win/com_ptr.h"
#include "device_caps.h"
#include "win/event_handle.h"
#include "sink.h"
#include "support/bytes.h"

namespace ondelle {

class WasapiSink final : public Sink {
  public:
    // device and caps are lent by start-up and outlive the sink.
    WasapiSink(IMMDevice* device, const DeviceCaps* caps, bool shared, bool software_volume);
    ~WasapiSink() override;  // the owner closes the sink first
    WasapiSink(const WasapiSink&) = delete;
    WasapiSink& operator=(const WasapiSink&) = delete;

    bool open(const Format& format, std::string& error) override;
    std::uint64_t write(const std::uint8_t* data, std::uint64_t frames) override;
    void pause(bool on) override;
    void flush() override;
    void drain() override;
    void close() override;
    std::int64_t delay() override;
    std::uint64_t underruns() override { return underruns_.load(); }

    // For shutdown, from any thread: a write waiting for room gives up (returns 0) and the
    // device is fed no more, so that a device which stopped taking audio cannot hold the
    // player for ever. close() is still needed, from the player's side.
    void stop_writer();

    // The linear gain of the software volume; any thread, any time.
    void store_gain(double gain) { gain_.store(gain); }
    double gain() const { return gain_.load(); }

  private:
    // One initialised stream on the device: the client, its services and its event.
    struct DeviceStream {
        ComPtr<IAudioClient> client;
        ComPtr<IAudioRenderClient> render_client;
        ComPtr<IAudioClock> clock;
        EventHandle event;
        EventHandle stop;  // tells the render thread to end; set by close
        std::uint32_t buffer_frames = 0;
    };

    // Fills stream; the HRESULT of the call that failed, if one did.
    HRESULT start_stream(const WAVEFORMATEXTENSIBLE& wave, DeviceStream& stream) const;
    void render_main();
    // Hands one device period over; under mutex_.
    void fill_period();

    IMMDevice* const device_;
    const DeviceCaps* const caps_;
    const bool shared_;
    const bool software_volume_;

    SampleConverter converter_;
    Format format_;
    ByteVector scratch_;

    std::mutex mutex_;
    std::condition_variable cond_;
    // Between open and close; published and taken back under mutex_, so that delay() from
    // another thread sees a whole stream or none.
    DeviceStream stream_;
    std::int32_t device_rate_ = 0;
    std::int32_t frame_bytes_ = 0;
    std::atomic<std::int32_t> frame_factor_{1};
    ByteVector ring_;
    std::uint64_t read_pos_ = 0;
    std::uint64_t fill_ = 0;
    std::uint64_t frames_released_ = 0;
    // Where, in released device frames, the last real audio ends: what follows it is the
    // silence that pads a period, which nobody waits to hear.
    std::uint64_t audio_end_ = 0;
    std::uint64_t writer_needs_ = 0;  // room a blocked write waits for; 0: none waits
    bool started_ = false;
    bool paused_ = false;
    std::uint32_t timeouts_ = 0;

    std::atomic<bool> running_{false};
    std::thread render_thread_;
    std::atomic<std::uint64_t> underruns_{0};
    std::atomic<double> gain_{1.0};
    std::int32_t sample_type_ = S32_LE;
    std::int32_t valid_bits_ = 24;
    std::uint32_t dither_state_ = 22222;
};

}  // namespace ondelle

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

#include "device_caps.h"
#include "device_watch.h"
#include "sink.h"
#include "support/byte_ring.h"
#include "support/bytes.h"
#include "win/com_ptr.h"
#include "win/event_handle.h"

namespace ondelle::wasapi {

class WasapiSink final : public Sink {
  public:
    // device is lent by start-up and outlives the sink: each stream opens on the device it
    // names, and a stream that finds the device gone tells it.
    WasapiSink(DeviceWatch& device, bool shared, bool software_volume);
    ~WasapiSink() override;  // the owner closes the sink first
    WasapiSink(const WasapiSink&) = delete;
    WasapiSink& operator=(const WasapiSink&) = delete;

    bool open(const Format& format, std::string& error) override;
    std::uint64_t write(const std::uint8_t* data, std::uint64_t frames) override;
    void pause(bool on) override;
    void flush() override;
    void drain() override;
    void play_out() override;
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

    // Fills stream on device; the HRESULT of the call that failed, if one did.
    HRESULT start_stream(IMMDevice* device, const WAVEFORMATEXTENSIBLE& wave,
                         DeviceStream& stream) const;
    void render_main();
    // Feeds the device until the stream ends; false when the device went away.
    bool render_until_stopped();
    // Hands one device period over; under mutex_. Fails when the device is gone.
    HRESULT fill_period();

    DeviceWatch& device_;
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
    ByteRing ring_;
    std::uint64_t frames_released_ = 0;
    // Where, in released device frames, the last real audio ends: what follows it is the
    // silence that pads a period, which nobody waits to hear.
    std::uint64_t audio_end_ = 0;
    std::uint64_t writer_needs_ = 0;  // room a blocked write waits for; 0: none waits
    bool wake_writer_ = false;        // that room is there: the render thread wakes the writer
    bool started_ = false;
    bool paused_ = false;
    // Nothing more follows what the ring holds: it starts short of a period, and running dry
    // is the end of the stream, not an underrun.
    bool no_more_audio_ = false;
    std::uint32_t timeouts_ = 0;

    std::atomic<bool> running_{false};
    std::thread render_thread_;
    std::atomic<std::uint64_t> underruns_{0};
    std::atomic<double> gain_{1.0};
    std::int32_t sample_type_ = S32_LE;
    std::int32_t valid_bits_ = 24;
    std::uint32_t dither_state_ = 22222;
};

}  // namespace ondelle::wasapi

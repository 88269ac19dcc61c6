// A simulated WASAPI stream on one render device: a clock thread consumes one period of the
// buffer per period of the device rate (scaled by the device's speed), appends what it
// consumed to the capture file and signals the client's event.
#pragma once

#include <audioclient.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "com_object.h"
#include "simulation.h"

namespace compat {

class SimAudioClient final : public ComObject<IAudioClient> {
  public:
    explicit SimAudioClient(std::shared_ptr<DeviceState> device);

    HRESULT Initialize(AUDCLNT_SHAREMODE share_mode, DWORD stream_flags,
                       REFERENCE_TIME buffer_duration, REFERENCE_TIME periodicity,
                       const WAVEFORMATEX* format, LPCGUID session) override;
    HRESULT GetBufferSize(UINT32* frames) override;
    HRESULT GetCurrentPadding(UINT32* frames) override;
    HRESULT IsFormatSupported(AUDCLNT_SHAREMODE share_mode, const WAVEFORMATEX* format,
                              WAVEFORMATEX** closest_match) override;
    HRESULT GetMixFormat(WAVEFORMATEX** format) override;
    HRESULT GetDevicePeriod(REFERENCE_TIME* default_period,
                            REFERENCE_TIME* minimum_period) override;
    HRESULT Start() override;
    HRESULT Stop() override;
    HRESULT Reset() override;
    HRESULT SetEventHandle(HANDLE event) override;
    HRESULT GetService(REFIID riid, void** service) override;

    // For the render client and the clock, which hold a reference to this client.
    HRESULT get_buffer(UINT32 frames, BYTE** data);
    HRESULT release_buffer(UINT32 frames);
    HRESULT frequency(UINT64* value);
    HRESULT position(UINT64* value);

  private:
    ~SimAudioClient() override;
    bool takes(const WAVEFORMATEX* format) const;
    void clock_main();
    // One period of the device: consume, capture, signal. Under mutex_.
    // One period taken; true when the client is to hear of it.
    bool tick();

    const std::shared_ptr<DeviceState> device_;
    const int generation_;  // of the device: once it was unplugged, every call fails

    std::mutex mutex_;
    std::condition_variable wake_;
    bool initialized_ = false;
    bool exclusive_ = false;
    bool started_ = false;
    bool quitting_ = false;
    bool buffer_out_ = false;
    UINT32 rate_ = 0;
    UINT32 block_ = 0;
    UINT32 buffer_frames_ = 0;
    UINT32 period_frames_ = 0;
    UINT32 padding_ = 0;
    UINT32 read_frame_ = 0;  // oldest queued frame in ring_
    UINT32 requested_ = 0;
    UINT64 position_ = 0;  // frames consumed since the last Reset
    std::int64_t ticks_played_ = 0;
    HANDLE event_ = nullptr;
    std::vector<BYTE> ring_;
    std::vector<BYTE> staging_;
    std::chrono::nanoseconds tick_{};
    std::chrono::steady_clock::time_point next_tick_;
    std::thread clock_;
};

}  // namespace compat

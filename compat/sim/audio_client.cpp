// A simulated WASAPI client: the device clock, the buffer rules, exclusive holding and capture.
#include "audio_client.h"

#include <pthread.h>

#include <ksmedia.h>

#include <algorithm>
#include <cmath>

namespace compat {
namespace {

constexpr double hundred_ns_per_second = 10000000.0;

// The buffer a driver that works in blocks of 128 frames would offer instead of a period.
UINT32 aligned_frames(REFERENCE_TIME period, double rate) {
    const auto frames = UINT32(std::llround(period * rate / hundred_ns_per_second));
    return (frames / 128 + 1) * 128;
}

class SimRenderClient final : public ComObject<IAudioRenderClient> {
  public:
    explicit SimRenderClient(SimAudioClient* client) : client_(client) { client_->AddRef(); }
    HRESULT GetBuffer(UINT32 frames, BYTE** data) override {
        return client_->get_buffer(frames, data);
    }
    HRESULT ReleaseBuffer(UINT32 frames, DWORD) override { return client_->release_buffer(frames); }

  private:
    ~SimRenderClient() override { client_->Release(); }
    SimAudioClient* client_;
};

class SimClock final : public ComObject<IAudioClock> {
  public:
    explicit SimClock(SimAudioClient* client) : client_(client) { client_->AddRef(); }
    HRESULT GetFrequency(UINT64* frequency) override { return client_->frequency(frequency); }
    HRESULT GetPosition(UINT64* position, UINT64* qpc_position) override {
        if (qpc_position) *qpc_position = 0;
        return client_->position(position);
    }

  private:
    ~SimClock() override { client_->Release(); }
    SimAudioClient* client_;
};

}  // namespace

SimAudioClient::SimAudioClient(std::shared_ptr<DeviceState> device)
    : device_(std::move(device)), generation_(device_->generation()) {}

SimAudioClient::~SimAudioClient() {
    {
        std::lock_guard lock(mutex_);
        quitting_ = true;
    }
    wake_.notify_all();
    if (clock_.joinable()) clock_.join();
    if (exclusive_ && initialized_) {
        std::lock_guard lock(device_->mutex);
        device_->held_exclusively = false;
    }
}

bool SimAudioClient::takes(const WAVEFORMATEX* format) const {
    if (format->wFormatTag != WAVE_FORMAT_EXTENSIBLE || format->cbSize < 22 ||
        format->nChannels != 2)
        return false;
    const auto* extensible = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(format);
    if (!(extensible->SubFormat == KSDATAFORMAT_SUBTYPE_PCM)) return false;
    if (format->nBlockAlign != format->nChannels * format->wBitsPerSample / 8) return false;
    return device_->takes(int(format->nSamplesPerSec), format->wBitsPerSample,
                          extensible->Samples.wValidBitsPerSample);
}

HRESULT SimAudioClient::IsFormatSupported(AUDCLNT_SHAREMODE share_mode, const WAVEFORMATEX* format,
                                          WAVEFORMATEX** closest_match) {
    if (!device_->present(generation_)) return AUDCLNT_E_DEVICE_INVALIDATED;
    if (closest_match) *closest_match = nullptr;
    if (!format) return E_POINTER;
    if (share_mode == AUDCLNT_SHAREMODE_SHARED)
        return int(format->nSamplesPerSec) == device_->config.mix_rate
                   ? S_OK
                   : AUDCLNT_E_UNSUPPORTED_FORMAT;
    {
        std::lock_guard lock(device_->mutex);
        if (device_->config.in_use || device_->held_exclusively) return AUDCLNT_E_DEVICE_IN_USE;
    }
    return takes(format) ? S_OK : AUDCLNT_E_UNSUPPORTED_FORMAT;
}

HRESULT SimAudioClient::GetMixFormat(WAVEFORMATEX** format) {
    if (!device_->present(generation_)) return AUDCLNT_E_DEVICE_INVALIDATED;
    if (!format) return E_POINTER;
    auto* mix = static_cast<WAVEFORMATEXTENSIBLE*>(CoTaskMemAlloc(sizeof(WAVEFORMATEXTENSIBLE)));
    if (!mix) return E_OUTOFMEMORY;
    *mix = {};
    mix->Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    mix->Format.nChannels = 2;
    mix->Format.nSamplesPerSec = DWORD(device_->config.mix_rate);
    mix->Format.wBitsPerSample = 32;
    mix->Format.nBlockAlign = 8;
    mix->Format.nAvgBytesPerSec = mix->Format.nSamplesPerSec * 8;
    mix->Format.cbSize = 22;
    mix->Samples.wValidBitsPerSample = 32;
    mix->dwChannelMask = SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
    mix->SubFormat = KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
    *format = &mix->Format;
    return S_OK;
}

HRESULT SimAudioClient::GetDevicePeriod(REFERENCE_TIME* default_period,
                                        REFERENCE_TIME* minimum_period) {
    if (!device_->present(generation_)) return AUDCLNT_E_DEVICE_INVALIDATED;
    const auto period = REFERENCE_TIME(std::llround(device_->config.period_ms * 10000));
    if (default_period) *default_period = period;
    if (minimum_period) *minimum_period = std::min<REFERENCE_TIME>(period, 30000);
    return S_OK;
}

HRESULT SimAudioClient::Initialize(AUDCLNT_SHAREMODE share_mode, DWORD stream_flags,
                                   REFERENCE_TIME buffer_duration, REFERENCE_TIME periodicity,
                                   const WAVEFORMATEX* format, LPCGUID) {
    if (!device_->present(generation_)) return AUDCLNT_E_DEVICE_INVALIDATED;
    if (!format) return E_POINTER;
    std::lock_guard lock(mutex_);
    if (initialized_) return AUDCLNT_E_ALREADY_INITIALIZED;
    const bool exclusive = share_mode == AUDCLNT_SHAREMODE_EXCLUSIVE;
    const double rate = format->nSamplesPerSec;
    UINT32 buffer_frames = 0;
    UINT32 period_frames = 0;
    {
        std::lock_guard device_lock(device_->mutex);
        const auto& config = device_->config;
        if (exclusive && (config.in_use || device_->held_exclusively))
            return AUDCLNT_E_DEVICE_IN_USE;
        if (device_->initialize_errors_left > 0) {
            --device_->initialize_errors_left;
            if (config.initialize_error == AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED)
                buffer_frames_ = aligned_frames(periodicity, rate);
            return config.initialize_error;
        }
        if (exclusive) {
            if (!takes(format)) return AUDCLNT_E_UNSUPPORTED_FORMAT;
            if ((stream_flags & AUDCLNT_STREAMFLAGS_EVENTCALLBACK) &&
                buffer_duration != periodicity)
                return AUDCLNT_E_BUFDURATION_PERIOD_NOT_EQUAL;
            if (periodicity < 30000) return AUDCLNT_E_INVALID_DEVICE_PERIOD;
            buffer_frames = UINT32(std::llround(periodicity * rate / hundred_ns_per_second));
            if (config.misaligned_once && !device_->misaligned_done) {
                device_->misaligned_done = true;
                buffer_frames_ = aligned_frames(periodicity, rate);
                return AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED;
            }
            period_frames = buffer_frames;
            device_->held_exclusively = true;
        } else {
            const bool converts = stream_flags & AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM;
            if (!converts && int(rate) != config.mix_rate) return AUDCLNT_E_UNSUPPORTED_FORMAT;
            buffer_frames = UINT32(std::llround(buffer_duration * rate / hundred_ns_per_second));
            period_frames = UINT32(std::llround(config.period_ms * rate / 1000));
        }
        tick_ = std::chrono::nanoseconds(
            std::llround(period_frames * 1e9 / rate / std::max(config.speed, 1e-3)));
    }
    exclusive_ = exclusive;
    rate_ = format->nSamplesPerSec;
    block_ = format->nBlockAlign;
    buffer_frames_ = buffer_frames;
    period_frames_ = std::max<UINT32>(period_frames, 1);
    ring_.assign(std::size_t(buffer_frames) * block_, 0);
    staging_.assign(ring_.size(), 0);
    initialized_ = true;
    clock_ = std::thread([this] {
        pthread_setname_np(pthread_self(), "sim clock");
        clock_main();
    });
    return S_OK;
}

HRESULT SimAudioClient::GetBufferSize(UINT32* frames) {
    if (!device_->present(generation_)) return AUDCLNT_E_DEVICE_INVALIDATED;
    if (!frames) return E_POINTER;
    std::lock_guard lock(mutex_);
    // After a misaligned-buffer refusal this is the aligned size the driver wants.
    if (!initialized_ && buffer_frames_ == 0) return AUDCLNT_E_NOT_INITIALIZED;
    *frames = buffer_frames_;
    return S_OK;
}

HRESULT SimAudioClient::GetCurrentPadding(UINT32* frames) {
    if (!device_->present(generation_)) return AUDCLNT_E_DEVICE_INVALIDATED;
    if (!frames) return E_POINTER;
    std::lock_guard lock(mutex_);
    if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
    *frames = padding_;
    return S_OK;
}

HRESULT SimAudioClient::Start() {
    if (!device_->present(generation_)) return AUDCLNT_E_DEVICE_INVALIDATED;
    {
        std::lock_guard lock(mutex_);
        if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
        if (started_) return AUDCLNT_E_NOT_STOPPED;
        if (!event_) return AUDCLNT_E_EVENTHANDLE_NOT_SET;
        started_ = true;
        next_tick_ = std::chrono::steady_clock::now() + tick_;
    }
    wake_.notify_all();
    return S_OK;
}

HRESULT SimAudioClient::Stop() {
    if (!device_->present(generation_)) return AUDCLNT_E_DEVICE_INVALIDATED;
    {
        std::lock_guard lock(mutex_);
        if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
        if (!started_) return S_FALSE;
        started_ = false;
    }
    wake_.notify_all();
    return S_OK;
}

HRESULT SimAudioClient::Reset() {
    if (!device_->present(generation_)) return AUDCLNT_E_DEVICE_INVALIDATED;
    std::lock_guard lock(mutex_);
    if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
    if (started_) return AUDCLNT_E_NOT_STOPPED;
    if (buffer_out_) return AUDCLNT_E_BUFFER_OPERATION_PENDING;
    padding_ = 0;
    read_frame_ = 0;
    position_ = 0;
    return S_OK;
}

HRESULT SimAudioClient::SetEventHandle(HANDLE event) {
    if (!device_->present(generation_)) return AUDCLNT_E_DEVICE_INVALIDATED;
    if (!event) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
    event_ = event;
    return S_OK;
}

HRESULT SimAudioClient::GetService(REFIID riid, void** service) {
    if (!device_->present(generation_)) return AUDCLNT_E_DEVICE_INVALIDATED;
    if (!service) return E_POINTER;
    *service = nullptr;
    {
        std::lock_guard lock(mutex_);
        if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
    }
    if (riid == IID_IAudioRenderClient) return hand_out(create<SimRenderClient>(this), service);
    if (riid == IID_IAudioClock) return hand_out(create<SimClock>(this), service);
    return E_NOINTERFACE;
}

HRESULT SimAudioClient::get_buffer(UINT32 frames, BYTE** data) {
    if (!device_->present(generation_)) return AUDCLNT_E_DEVICE_INVALIDATED;
    if (!data) return E_POINTER;
    std::lock_guard lock(mutex_);
    if (buffer_out_) return AUDCLNT_E_OUT_OF_ORDER;
    if (frames > buffer_frames_ - padding_) return AUDCLNT_E_BUFFER_TOO_LARGE;
    // An exclusive event-driven stream moves whole buffers.
    if (exclusive_ && frames != buffer_frames_) return AUDCLNT_E_BUFFER_SIZE_ERROR;
    buffer_out_ = true;
    requested_ = frames;
    *data = staging_.data();
    return S_OK;
}

HRESULT SimAudioClient::release_buffer(UINT32 frames) {
    if (!device_->present(generation_)) return AUDCLNT_E_DEVICE_INVALIDATED;
    std::lock_guard lock(mutex_);
    if (!buffer_out_) return AUDCLNT_E_OUT_OF_ORDER;
    if (frames > requested_) return AUDCLNT_E_INVALID_SIZE;
    buffer_out_ = false;
    const std::size_t ring_bytes = ring_.size();
    std::size_t at = (std::size_t(read_frame_) + padding_) % buffer_frames_ * block_;
    std::size_t left = std::size_t(frames) * block_;
    const BYTE* from = staging_.data();
    while (left > 0) {
        const std::size_t n = std::min(left, ring_bytes - at);
        std::copy(from, from + n, ring_.data() + at);
        from += n;
        left -= n;
        at = (at + n) % ring_bytes;
    }
    padding_ += frames;
    return S_OK;
}

HRESULT SimAudioClient::frequency(UINT64* value) {
    if (!device_->present(generation_)) return AUDCLNT_E_DEVICE_INVALIDATED;
    if (!value) return E_POINTER;
    std::lock_guard lock(mutex_);
    *value = UINT64(rate_) * block_;  // in bytes per second, as many drivers report it
    return S_OK;
}

HRESULT SimAudioClient::position(UINT64* value) {
    if (!device_->present(generation_)) return AUDCLNT_E_DEVICE_INVALIDATED;
    if (!value) return E_POINTER;
    std::lock_guard lock(mutex_);
    *value = position_ * block_;
    return S_OK;
}

void SimAudioClient::clock_main() {
    std::unique_lock lock(mutex_);
    while (!quitting_) {
        if (!started_) {
            wake_.wait(lock);
            continue;
        }
        wake_.wait_until(lock, next_tick_);
        if (quitting_ || !started_ || std::chrono::steady_clock::now() < next_tick_) continue;
        next_tick_ += tick_;
        // As the engine does, the client hears of the period once the engine let go of it.
        if (tick() && event_) {
            const HANDLE event = event_;
            lock.unlock();
            SetEvent(event);
            lock.lock();
        }
    }
}

bool SimAudioClient::tick() {
    const int stall_after_ms = device_->config.stall_after_ms;
    const int removed_after_ms = device_->config.removed_after_ms;
    ++ticks_played_;
    const double played_ms = ticks_played_ * 1000.0 * period_frames_ / rate_;
    if (removed_after_ms >= 0 && played_ms > removed_after_ms) device_->remove();
    // A hung driver, or a device that is gone, neither takes audio nor asks for more.
    if ((stall_after_ms >= 0 && played_ms > stall_after_ms) || !device_->present(generation_))
        return false;
    const UINT32 frames = std::min(padding_, period_frames_);
    std::size_t at = std::size_t(read_frame_) * block_;
    std::size_t left = std::size_t(frames) * block_;
    while (left > 0) {
        const std::size_t n = std::min(left, ring_.size() - at);
        device_->capture(ring_.data() + at, n);
        left -= n;
        at = (at + n) % ring_.size();
    }
    read_frame_ = (read_frame_ + frames) % buffer_frames_;
    padding_ -= frames;
    position_ += frames;
    return true;
}

}  // namespace compat

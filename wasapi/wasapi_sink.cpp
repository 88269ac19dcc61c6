// WasapiSink: a ring between the player and the render thread, which feeds the device each period.
#include "wasapi_sink.h"

#include <avrt.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "program_name.h"
#include "software_gain.h"
#include "support/thread.h"
#include "win/com_thread.h"
#include "win/device_gone.h"
#include "win/hresult_text.h"
#include "win/log_line.h"

namespace ondelle::wasapi {
namespace {

constexpr DWORD exclusive_flags = AUDCLNT_STREAMFLAGS_EVENTCALLBACK;
constexpr DWORD shared_flags = AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM |
                               AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY |
                               AUDCLNT_STREAMFLAGS_EVENTCALLBACK;
constexpr REFERENCE_TIME shared_buffer_duration = 1000000;  // 100 ms
constexpr std::uint32_t stall_timeouts = 10;                // of 200 ms each

}  // namespace

WasapiSink::WasapiSink(DeviceWatch& device, bool shared, bool software_volume)
    : device_(device), shared_(shared), software_volume_(software_volume) {
    Format initial;
    converter_.reset(initial, S32_LE);
}

WasapiSink::~WasapiSink() {
    // Closing is the owner's job; this only keeps a forgotten close from ending the process
    // with a running thread.
    if (render_thread_.joinable()) close();
}

bool WasapiSink::open(const Format& format, std::string& error) {
    initialize_com_for_thread();
    IMMDevice* device = nullptr;
    const DeviceCaps* caps = nullptr;
    if (!device_.current(device, caps)) {
        error = output_device_gone;
        return false;
    }
    const auto layout = find_device_format(*caps, format);
    if (!layout) {
        error = "the device does not take this format as it is";
        return false;
    }
    const std::int32_t device_rate = output_rate(format, layout->sample_type);
    const std::int32_t frame_bytes = layout->container_bits / 4;
    const WAVEFORMATEXTENSIBLE wave =
        make_wave_format(device_rate, layout->container_bits, layout->valid_bits);
    DeviceStream stream;
    const HRESULT result = start_stream(device, wave, stream);
    if (result == AUDCLNT_E_DEVICE_INVALIDATED) {
        close();
        device_.report_gone();
        error = output_device_gone;
        return false;
    }
    if (FAILED(result)) {
        error = std::string(shared_ ? "shared" : "exclusive") + " mode failed (" +
                hresult_text(result) + ")";
        close();
        return false;
    }
    const std::uint32_t buffer_frames = stream.buffer_frames;

    format_ = format;
    sample_type_ = layout->sample_type;
    valid_bits_ = layout->valid_bits;
    converter_.reset(format, static_cast<SampleFormat>(sample_type_));
    frame_factor_.store(dsd_bytes(sample_type_));
    {
        std::lock_guard lock(mutex_);
        stream_ = std::move(stream);
        device_rate_ = device_rate;
        frame_bytes_ = frame_bytes;
        const std::uint64_t ring_frames =
            std::max<std::uint64_t>(4ull * buffer_frames, std::uint64_t(device_rate / 5));
        ring_.reset(std::size_t(ring_frames * std::uint64_t(frame_bytes)));
        timeouts_ = 0;
        frames_released_ = audio_end_ = 0;
        started_ = paused_ = no_more_audio_ = false;
    }
    running_.store(true);
    render_thread_ = start_thread("wasapi render", [this] { render_main(); });

    if (format.is_dsd()) {
        log_line(program_name, dsd_rate_name(format.rate) +
                                   " \xe2\x86\x92"
                                   " DoP " +
                                   std::to_string(layout->valid_bits) + "-in-" +
                                   std::to_string(layout->container_bits) + " at " +
                                   std::to_string(device_rate) + " Hz");
    } else {
        log_line(program_name, "PCM " + std::to_string(format.rate) + " Hz " +
                                   std::to_string(format.bits) +
                                   "-bit "
                                   "\xe2\x86\x92"
                                   " " +
                                   std::to_string(layout->valid_bits) + "-in-" +
                                   std::to_string(layout->container_bits) + " (buffer " +
                                   std::to_string(buffer_frames) + " frames" +
                                   (shared_ ? ", Windows' mixer" : "") + ")");
    }
    return true;
}

HRESULT WasapiSink::start_stream(IMMDevice* device, const WAVEFORMATEXTENSIBLE& wave,
                                 DeviceStream& stream) const {
    auto& client = stream.client;
    const auto rate = std::int32_t(wave.Format.nSamplesPerSec);
    HRESULT result = device->Activate(IID_IAudioClient, CLSCTX_ALL, nullptr, client.put_void());
    REFERENCE_TIME default_period = 0;
    REFERENCE_TIME minimum_period = 0;
    if (SUCCEEDED(result)) result = client->GetDevicePeriod(&default_period, &minimum_period);
    if (SUCCEEDED(result)) {
        result = shared_
                     ? client->Initialize(AUDCLNT_SHAREMODE_SHARED, shared_flags,
                                          shared_buffer_duration, 0, &wave.Format, nullptr)
                     : client->Initialize(AUDCLNT_SHAREMODE_EXCLUSIVE, exclusive_flags,
                                          default_period, default_period, &wave.Format, nullptr);
    }
    if (result == AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED && !shared_) {
        // The driver wants a period that is a whole number of its blocks; it says how many
        // frames that is, and a fresh client asks for exactly that.
        UINT32 aligned_frames = 0;
        result = client->GetBufferSize(&aligned_frames);
        if (SUCCEEDED(result)) {
            const auto period = REFERENCE_TIME(std::llround(aligned_frames * 10000000.0 / rate));
            result = device->Activate(IID_IAudioClient, CLSCTX_ALL, nullptr, client.put_void());
            if (SUCCEEDED(result))
                result = client->Initialize(AUDCLNT_SHAREMODE_EXCLUSIVE, exclusive_flags, period,
                                            period, &wave.Format, nullptr);
        }
    }
    if (FAILED(result)) return result;
    stream.event = EventHandle::create_auto_reset();
    stream.stop = EventHandle::create_manual_reset();
    if (!stream.event || !stream.stop) return E_FAIL;
    result = client->SetEventHandle(stream.event.get());
    if (SUCCEEDED(result)) result = client->GetBufferSize(&stream.buffer_frames);
    if (SUCCEEDED(result))
        result = client->GetService(IID_IAudioRenderClient, stream.render_client.put_void());
    if (SUCCEEDED(result)) result = client->GetService(IID_IAudioClock, stream.clock.put_void());
    return result;
}

std::uint64_t WasapiSink::write(const std::uint8_t* data, std::uint64_t frames) {
    scratch_.clear();
    if (converter_.convert(data, frames, scratch_) == 0) return frames;
    std::unique_lock lock(mutex_);
    no_more_audio_ = false;
    const std::uint64_t ring_size = ring_.size();
    std::uint64_t copied = 0;
    while (copied < scratch_.size()) {
        if (ring_.room() == 0) {
            // Wait for a quarter of the ring (or for what is left to copy, when that is more)
            // instead of waking at every period the device takes.
            writer_needs_ = std::min(ring_size, std::max(scratch_.size() - copied, ring_size / 4));
            cond_.wait(lock, [&] { return !running_.load() || ring_.room() >= writer_needs_; });
            writer_needs_ = 0;
        }
        if (!running_.load()) return 0;
        copied += ring_.write(scratch_.data() + copied, scratch_.size() - copied);
        cond_.notify_all();
    }
    return frames;
}

void WasapiSink::stop_writer() {
    {
        std::lock_guard lock(mutex_);
        running_.store(false);
    }
    cond_.notify_all();
}

void WasapiSink::pause(bool on) {
    std::lock_guard lock(mutex_);
    paused_ = on;
    if (stream_.client && started_) {
        if (on)
            stream_.client->Stop();
        else
            stream_.client->Start();
    }
}

void WasapiSink::flush() {
    {
        std::lock_guard lock(mutex_);
        if (stream_.client) {
            stream_.client->Stop();
            stream_.client->Reset();
        }
        timeouts_ = 0;
        ring_.discard();
        frames_released_ = audio_end_ = 0;
        started_ = false;
        no_more_audio_ = true;
        converter_.reset(format_, static_cast<SampleFormat>(sample_type_));
    }
    cond_.notify_all();
}

void WasapiSink::play_out() {
    {
        std::lock_guard lock(mutex_);
        no_more_audio_ = true;
    }
    cond_.notify_all();  // a render thread waiting for a whole period starts with less
}

void WasapiSink::drain() {
    play_out();
    for (int i = 0; i < 300; ++i) {
        if (delay() == 0) return;
        Sleep(10);
    }
}

void WasapiSink::close() {
    running_.store(false);
    DeviceStream stream;
    {
        std::lock_guard lock(mutex_);
        if (stream_.stop) SetEvent(stream_.stop.get());
    }
    cond_.notify_all();
    if (render_thread_.joinable()) render_thread_.join();
    {
        std::lock_guard lock(mutex_);
        stream = std::move(stream_);
        stream_ = DeviceStream{};
    }
    if (stream.client) stream.client->Stop();
    // The clock, then the render client, then the client, then the event.
    stream.clock.reset();
    stream.render_client.reset();
    stream.client.reset();
}

std::int64_t WasapiSink::delay() {
    std::lock_guard lock(mutex_);
    if (!stream_.client || frame_bytes_ == 0) return 0;
    const std::uint64_t queued = ring_.queued() / std::uint64_t(frame_bytes_);
    std::uint64_t played = 0;
    UINT64 frequency = 0;
    UINT64 position = 0;
    const auto& clock = stream_.clock;
    if (clock && SUCCEEDED(clock->GetFrequency(&frequency)) && frequency != 0 &&
        SUCCEEDED(clock->GetPosition(&position, nullptr)))
        played = std::uint64_t(double(device_rate_) * double(position) / double(frequency));
    const std::uint64_t pending = audio_end_ > played ? audio_end_ - played : 0;
    return std::int64_t((queued + pending) * std::uint64_t(frame_factor_.load()));
}

void WasapiSink::render_main() {
    initialize_com_for_thread();
    DWORD task_index = 0;
    const HANDLE task = AvSetMmThreadCharacteristicsW(L"Pro Audio", &task_index);
    if (!render_until_stopped()) {
        stop_writer();  // a write waiting for room gives up
        device_.report_gone();
    }
    if (task) AvRevertMmThreadCharacteristics(task);
}

bool WasapiSink::render_until_stopped() {
    const std::uint64_t buffer_bytes =
        std::uint64_t(stream_.buffer_frames) * std::uint64_t(frame_bytes_);
    const HANDLE wakers[2] = {stream_.event.get(), stream_.stop.get()};
    while (running_.load()) {
        std::unique_lock lock(mutex_);
        if (!started_) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
            // A whole period before the start, or what there is once nothing more follows.
            const auto ready = [&] {
                return ring_.queued() >= buffer_bytes || (no_more_audio_ && ring_.queued() > 0);
            };
            cond_.wait_until(lock, deadline, [&] { return !running_.load() || ready(); });
            if (running_.load() && ready() && !paused_) {
                HRESULT result = fill_period();
                if (SUCCEEDED(result)) result = stream_.client->Start();
                if (result == AUDCLNT_E_DEVICE_INVALIDATED) return false;
                started_ = true;
            }
            const bool wake_writer = std::exchange(wake_writer_, false);
            lock.unlock();
            if (wake_writer) cond_.notify_all();
            continue;
        }
        lock.unlock();
        // The device's period, or the stop; 200 ms without either count toward a stall.
        const DWORD waited = WaitForMultipleObjects(2, wakers, FALSE, 200);
        if (waited == WAIT_OBJECT_0 + 1) break;
        lock.lock();
        if (waited != WAIT_OBJECT_0) {
            // No period came: a device that is gone says so when asked.
            UINT32 padding = 0;
            if (stream_.client->GetCurrentPadding(&padding) == AUDCLNT_E_DEVICE_INVALIDATED)
                return false;
            bool stalled = false;
            if (started_ && !paused_) stalled = ++timeouts_ == stall_timeouts;
            lock.unlock();
            if (stalled)
                log_line(program_name,
                         "the device asked for no samples for 2 s while playing (its driver "
                         "stopped)");
            continue;
        }
        timeouts_ = 0;
        if (running_.load() && started_ && !paused_ &&
            fill_period() == AUDCLNT_E_DEVICE_INVALIDATED)
            return false;
        // The writer is woken once the lock is free, so that it does not wake only to wait.
        const bool wake_writer = std::exchange(wake_writer_, false);
        lock.unlock();
        if (wake_writer) cond_.notify_all();
    }
    return true;
}

HRESULT WasapiSink::fill_period() {
    const std::uint32_t buffer_frames = stream_.buffer_frames;
    UINT32 frames = buffer_frames;
    const auto frame_bytes = std::uint64_t(frame_bytes_);
    if (shared_) {
        UINT32 padding = 0;
        const HRESULT result = stream_.client->GetCurrentPadding(&padding);
        if (result == AUDCLNT_E_DEVICE_INVALIDATED) return result;
        if (SUCCEEDED(result)) frames = padding < buffer_frames ? buffer_frames - padding : 0;
        frames = UINT32(std::min<std::uint64_t>(frames, ring_.queued() / frame_bytes));
    }
    BYTE* buffer = nullptr;
    if (frames == 0) return S_OK;
    const HRESULT got = stream_.render_client->GetBuffer(frames, &buffer);
    if (FAILED(got)) return got == AUDCLNT_E_DEVICE_INVALIDATED ? got : S_OK;
    const std::uint64_t wanted = std::uint64_t(frames) * frame_bytes;
    const std::uint64_t k = ring_.read(buffer, std::size_t(wanted));
    if (software_volume_ && !format_.is_dsd())
        apply_software_gain(buffer, k, sample_type_, valid_bits_, gain_.load(), dither_state_);
    if (k < wanted) {
        std::memset(buffer + k, 0, wanted - k);
        if (started_ && !no_more_audio_) underruns_.fetch_add(1);
    }
    const HRESULT released = stream_.render_client->ReleaseBuffer(frames, 0);
    if (released == AUDCLNT_E_DEVICE_INVALIDATED) return released;
    if (k > 0) audio_end_ = frames_released_ + k / frame_bytes;
    frames_released_ += frames;
    if (writer_needs_ != 0 && ring_.room() >= writer_needs_) wake_writer_ = true;
    return S_OK;
}

}  // namespace ondelle::wasapi

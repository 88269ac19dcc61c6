// The simulated ASIO drivers: single-threaded COM objects like real ones, each with its own
// callback thread that calls bufferSwitch once per half buffer at the driver's rate (scaled
// by speed) and then captures the half buffer it handed over.
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "com_object.h"
#include "iasio.h"
#include "simulation.h"
#include "support/thread.h"
#include "window_table.h"

namespace compat {
namespace {

using namespace ondelle::asio;
using Clock = std::chrono::steady_clock;

// Bytes of one sample in the driver's buffer; a DSD byte holds eight one-bit samples.
int sample_bytes(ASIOSampleType type) {
    switch (type) {
        case ASIOSTInt16LSB:
            return 2;
        case ASIOSTInt24LSB:
            return 3;
        case ASIOSTFloat64LSB:
            return 8;
        case ASIOSTDSDInt8LSB1:
        case ASIOSTDSDInt8MSB1:
        case ASIOSTDSDInt8NER8:
            return 1;
        default:
            return 4;
    }
}

bool contains(const std::vector<int>& list, double value) {
    for (const int entry : list)
        if (double(entry) == value) return true;
    return false;
}

void copy_text(char* out, std::size_t room, const std::string& text) {
    if (!out) return;
    std::snprintf(out, room, "%s", text.c_str());
}

class SimulatedAsioDriver final : public ComObject<IASIO> {
  public:
    explicit SimulatedAsioDriver(std::shared_ptr<AsioDriverState> state)
        : state_(std::move(state)), config_(state_->config) {
        rate_ = config_.rates.empty() ? 44100.0 : config_.rates.front();
    }

    ~SimulatedAsioDriver() override {
        stop_callbacks();
        log_call("release");
    }

    ASIOBool init(void*) override {
        state_->log("init");
        init_thread_ = GetCurrentThreadId();
        if (state_->removed()) {
            error_ = "the device is not connected";
            return ASIOFalse;
        }
        if (config_.init_error) {
            error_ = *config_.init_error;
            return ASIOFalse;
        }
        return ASIOTrue;
    }

    void getDriverName(char* name) override {
        if (!allowed("getDriverName")) return copy_text(name, 32, "");
        copy_text(name, 32, config_.name);
    }

    std::int32_t getDriverVersion() override { return allowed("getDriverVersion") ? 1 : 0; }

    void getErrorMessage(char* text) override {
        if (!allowed("getErrorMessage")) return copy_text(text, 124, "");
        copy_text(text, 124, error_);
    }

    ASIOError start() override {
        if (!allowed("start")) return ASE_InvalidMode;
        if (buffers_.empty()) return ASE_InvalidMode;
        if (config_.start_error) {
            error_ = *config_.start_error;
            return ASE_HWMalfunction;
        }
        start_callbacks();
        return ASE_OK;
    }

    ASIOError stop() override {
        if (!allowed("stop")) return ASE_InvalidMode;
        stop_callbacks();
        return ASE_OK;
    }

    ASIOError getChannels(std::int32_t* inputs, std::int32_t* outputs) override {
        if (!allowed("getChannels")) return ASE_InvalidMode;
        if (inputs) *inputs = 0;
        if (outputs) *outputs = config_.outputs;
        return ASE_OK;
    }

    ASIOError getLatencies(std::int32_t* input, std::int32_t* output) override {
        if (!allowed("getLatencies")) return ASE_InvalidMode;
        if (input) *input = 0;
        if (output) *output = config_.output_latency >= 0 ? config_.output_latency : buffer_size();
        return ASE_OK;
    }

    ASIOError getBufferSize(std::int32_t* min_size, std::int32_t* max_size, std::int32_t* preferred,
                            std::int32_t* granularity) override {
        if (!allowed("getBufferSize")) return ASE_InvalidMode;
        for (std::int32_t* size : {min_size, max_size, preferred})
            if (size) *size = buffer_size();
        if (granularity) *granularity = 0;
        return ASE_OK;
    }

    ASIOError canSampleRate(ASIOSampleRate rate) override {
        if (!allowed("canSampleRate " + rate_text(rate))) return ASE_InvalidMode;
        return contains(mode_rates(), rate) ? ASE_OK : ASE_NoClock;
    }

    ASIOError getSampleRate(ASIOSampleRate* rate) override {
        if (!allowed("getSampleRate")) return ASE_InvalidMode;
        if (!rate) return ASE_InvalidParameter;
        *rate = rate_;
        return ASE_OK;
    }

    ASIOError setSampleRate(ASIOSampleRate rate) override {
        if (!allowed("setSampleRate " + rate_text(rate))) return ASE_InvalidMode;
        if (!contains(mode_rates(), rate) || contains(config_.set_rate_refused, rate))
            return ASE_NoClock;
        rate_ = rate;
        return ASE_OK;
    }

    ASIOError getClockSources(ASIOClockSource* clocks, std::int32_t* count) override {
        if (!allowed("getClockSources")) return ASE_InvalidMode;
        if (!clocks || !count || *count < 1) return ASE_InvalidParameter;
        *clocks = ASIOClockSource{};
        clocks->isCurrentSource = ASIOTrue;
        copy_text(clocks->name, sizeof clocks->name, "Internal");
        *count = 1;
        return ASE_OK;
    }

    ASIOError setClockSource(std::int32_t reference) override {
        if (!allowed("setClockSource")) return ASE_InvalidMode;
        return reference == 0 ? ASE_OK : ASE_InvalidParameter;
    }

    ASIOError getSamplePosition(ASIOSamples* position, ASIOTimeStamp* stamp) override {
        if (!allowed("getSamplePosition")) return ASE_InvalidMode;
        if (!running_) return ASE_SPNotAdvancing;
        const std::uint64_t samples = delivered_.load() * std::uint64_t(buffer_size());
        const auto nanoseconds = std::uint64_t(Clock::now().time_since_epoch().count());
        if (position) *position = {std::uint32_t(samples >> 32), std::uint32_t(samples)};
        if (stamp) *stamp = {std::uint32_t(nanoseconds >> 32), std::uint32_t(nanoseconds)};
        return ASE_OK;
    }

    ASIOError getChannelInfo(ASIOChannelInfo* info) override {
        if (!allowed("getChannelInfo " + std::to_string(info ? info->channel : -1)))
            return ASE_InvalidMode;
        if (!info || info->isInput || info->channel < 0 || info->channel >= config_.outputs)
            return ASE_InvalidParameter;
        info->isActive = buffers_.empty() ? ASIOFalse : ASIOTrue;
        info->channelGroup = 0;
        info->type = sample_type();
        std::snprintf(info->name, sizeof info->name, "Out %d", int(info->channel) + 1);
        return ASE_OK;
    }

    ASIOError createBuffers(ASIOBufferInfo* infos, std::int32_t count, std::int32_t size,
                            ASIOCallbacks* callbacks) override {
        if (!allowed("createBuffers " + std::to_string(count) + " " + std::to_string(size)))
            return ASE_InvalidMode;
        if (!buffers_.empty()) return ASE_InvalidMode;
        if (!infos || !callbacks || count <= 0 || size <= 0) return ASE_InvalidParameter;
        if (config_.create_buffers_error) {
            error_ = *config_.create_buffers_error;
            return ASE_NoMemory;
        }
        for (std::int32_t i = 0; i < count; ++i)
            if (infos[i].isInput || infos[i].channelNum < 0 ||
                infos[i].channelNum >= config_.outputs)
                return ASE_InvalidParameter;
        const int type = sample_type();
        half_bytes_ = dsd_mode_ ? std::size_t(size / 8) : std::size_t(size) * sample_bytes(type);
        frame_sample_bytes_ = std::size_t(sample_bytes(type));
        in_use_size_ = size;
        buffers_.assign(std::size_t(count) * 2, std::vector<BYTE>(half_bytes_, 0));
        for (std::int32_t i = 0; i < count; ++i) {
            infos[i].buffers[0] = buffers_[std::size_t(i) * 2].data();
            infos[i].buffers[1] = buffers_[std::size_t(i) * 2 + 1].data();
        }
        callbacks_ = *callbacks;
        output_ready_logged_ = false;
        return ASE_OK;
    }

    ASIOError disposeBuffers() override {
        if (!allowed("disposeBuffers")) return ASE_InvalidMode;
        if (buffers_.empty()) return ASE_InvalidMode;
        stop_callbacks();
        buffers_.clear();
        return ASE_OK;
    }

    ASIOError controlPanel() override {
        if (!allowed("controlPanel")) return ASE_InvalidMode;
        if (!config_.panel) return ASE_NotPresent;
        show_window_for(std::chrono::milliseconds(config_.panel_ms));
        return ASE_OK;
    }

    ASIOError future(std::int32_t selector, void* option) override {
        const auto* format = static_cast<const ASIOIoFormat*>(option);
        const bool io_selector = selector == kAsioSetIoFormat || selector == kAsioCanDoIoFormat;
        char text[64];
        std::snprintf(text, sizeof text, "future 0x%x", unsigned(selector));
        std::string call = text;
        if (io_selector && format) call += format->FormatType == kASIODSDFormat ? " dsd" : " pcm";
        if (!allowed(call)) return ASE_InvalidMode;
        if (!io_selector) return ASE_InvalidParameter;
        if (!format) return ASE_InvalidParameter;
        const bool dsd = format->FormatType == kASIODSDFormat;
        if (dsd && !config_.dsd) return ASE_NotPresent;
        if (format->FormatType != kASIODSDFormat && format->FormatType != kASIOPCMFormat)
            return ASE_NotPresent;
        if (selector == kAsioSetIoFormat && dsd != dsd_mode_) {
            if (!buffers_.empty()) return ASE_InvalidMode;
            dsd_mode_ = dsd;
            const auto& rates = mode_rates();
            rate_ = rates.empty() ? 0.0 : rates.front();
        }
        return ASE_SUCCESS;
    }

    ASIOError outputReady() override {
        // Called on the buffer-switch thread, where it belongs.
        if (!output_ready_logged_.exchange(true)) state_->log("outputReady");
        return config_.output_ready && !state_->removed() ? ASE_OK : ASE_NotPresent;
    }

  private:
    static std::string rate_text(double rate) {
        char text[32];
        std::snprintf(text, sizeof text, "%.0f", rate);
        return text;
    }

    // Logs the call; false (and a "wrong thread:" line) when it comes from a thread other
    // than the one that called init.
    bool allowed(const std::string& call) {
        if (init_thread_ != 0 && GetCurrentThreadId() != init_thread_) {
            state_->log("wrong thread: " + call);
            return false;
        }
        state_->log(call);
        return !state_->removed();  // an unplugged device answers nothing
    }
    void log_call(const std::string& call) {
        if (init_thread_ != 0 && GetCurrentThreadId() != init_thread_)
            state_->log("wrong thread: " + call);
        else
            state_->log(call);
    }

    int buffer_size() const {
        if (!dsd_mode_) return config_.buffer_size;
        return config_.dsd_buffer_size > 0 ? config_.dsd_buffer_size : 8 * config_.buffer_size;
    }
    int sample_type() const { return dsd_mode_ ? config_.dsd_sample_type : config_.sample_type; }
    const std::vector<int>& mode_rates() const {
        return dsd_mode_ ? config_.dsd_rates : config_.rates;
    }

    void start_callbacks() {
        if (running_) return;
        stopping_ = false;
        running_ = true;
        delivered_ = 0;
        callbacks_thread_ = ondelle::start_thread("asio sim driver", [this] { run_callbacks(); });
    }

    void stop_callbacks() {
        if (!running_) return;
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (callbacks_thread_.joinable()) callbacks_thread_.join();
        running_ = false;
    }

    // The driver's own thread: one buffer switch per half buffer, on a steady schedule.
    void run_callbacks() {
        const double half_seconds = double(in_use_size_) / rate_ / config_.speed;
        const auto half = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(half_seconds));
        const double half_ms = double(in_use_size_) * 1000.0 / rate_;
        std::vector<BYTE> captured(half_bytes_ * 2);
        auto next = Clock::now();
        int index = 0;
        std::unique_lock lock(mutex_);
        for (;;) {
            next += half;
            if (wake_.wait_until(lock, next, [this] { return stopping_; })) return;
            if (Clock::now() > next + 4 * half) next = Clock::now();  // fell far behind
            const double audio_ms = double(delivered_.load()) * half_ms;
            if (config_.removed_after_ms >= 0 && audio_ms >= config_.removed_after_ms)
                state_->remove();
            if (state_->removed() ||
                (config_.stall_after_ms >= 0 && audio_ms >= config_.stall_after_ms)) {
                wake_.wait(lock, [this] { return stopping_; });
                return;
            }
            if (config_.reset_after_ms >= 0 && audio_ms >= config_.reset_after_ms &&
                !state_->reset_sent.exchange(true)) {
                // Like a driver whose settings changed: it asks to be reopened and waits.
                lock.unlock();
                if (callbacks_.asioMessage)
                    callbacks_.asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
                lock.lock();
                wake_.wait(lock, [this] { return stopping_; });
                return;
            }
            lock.unlock();
            if (callbacks_.bufferSwitch) callbacks_.bufferSwitch(index, ASIOTrue);
            capture_half(index, captured);
            ++delivered_;
            index ^= 1;
            lock.lock();
        }
    }

    // Channel 0's sample, then channel 1's, frame by frame.
    void capture_half(int index, std::vector<BYTE>& out) const {
        if (config_.capture.empty() || buffers_.size() < 4) return;
        const BYTE* left = buffers_[index].data();
        const BYTE* right = buffers_[2 + index].data();
        const std::size_t step = frame_sample_bytes_;
        BYTE* to = out.data();
        for (std::size_t at = 0; at + step <= half_bytes_; at += step) {
            std::memcpy(to, left + at, step);
            std::memcpy(to + step, right + at, step);
            to += 2 * step;
        }
        state_->capture(out.data(), std::size_t(to - out.data()));
    }

    const std::shared_ptr<AsioDriverState> state_;
    const AsioDriverConfig& config_;

    DWORD init_thread_ = 0;
    std::string error_;
    bool dsd_mode_ = false;
    double rate_ = 0;

    // Made and freed only while no callbacks run.
    std::vector<std::vector<BYTE>> buffers_;  // channel by channel, two halves each
    std::size_t half_bytes_ = 0;              // of one channel
    std::size_t frame_sample_bytes_ = 4;
    std::int32_t in_use_size_ = 0;
    ASIOCallbacks callbacks_{};
    std::atomic<bool> output_ready_logged_{false};

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;  // under mutex_
    bool running_ = false;   // the driver's own thread's view
    std::atomic<std::uint64_t> delivered_{0};
    std::thread callbacks_thread_;
};

}  // namespace

bool create_asio_driver(REFCLSID clsid, REFIID riid, void** object, HRESULT& result) {
    for (const auto& driver : current_simulation()->asio_drivers) {
        CLSID registered{};
        if (!driver->clsid(registered) || !(registered == clsid)) continue;
        if (FAILED(driver->config.load_error)) {
            result = driver->config.load_error;
        } else if (!(riid == clsid)) {
            result = E_NOINTERFACE;
        } else {
            result = hand_out<IASIO>(ComObject<IASIO>::create<SimulatedAsioDriver>(driver), object);
        }
        return true;
    }
    return false;
}

}  // namespace compat

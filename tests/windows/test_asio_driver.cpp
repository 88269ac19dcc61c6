// An ASIO driver of our own for running Ondelle-Direct.exe under Wine: an in-process COM
// server whose driver calls bufferSwitch once per half buffer in real time from a thread of
// its own and appends each half buffer it handed over to a file, interleaved as the
// simulated drivers of compat/ write it. One DLL plays several roles, chosen by the
// environment of the process that loads it:
//   ONDELLE_TEST_ASIO_TYPE      PCM sample type of its outputs (default 18)
//   ONDELLE_TEST_ASIO_DSD       "1": also plays DSD64 and DSD128, MSB first (type 33)
//   ONDELLE_TEST_ASIO_CAPTURE   the file the half buffers are appended to
//   ONDELLE_TEST_ASIO_RESET_MS  after this much audio it asks once for a reset and waits
#include <windows.h>

#include <objbase.h>
#include <unknwn.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "iasio.h"

using namespace ondelle::asio;

namespace {

// {6F6E6465-6C6C-6554-6573-744153494F31}
const CLSID driver_clsid = {
    0x6F6E6465, 0x6C6C, 0x6554, {0x65, 0x73, 0x74, 0x41, 0x53, 0x49, 0x4F, 0x31}};

std::atomic<long> objects{0};
std::atomic<bool> reset_sent{false};  // once per process, as a real device would

// A setting from the environment, or else from HKLM\SOFTWARE\Ondelle Test Driver: a service
// runs with the system's environment, not the test's.
std::string setting(const char* name) {
    if (const char* value = std::getenv(name); value && *value) return value;
    char text[1024] = {};
    DWORD bytes = sizeof text;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Ondelle Test Driver", name, RRF_RT_REG_SZ,
                     nullptr, text, &bytes) != ERROR_SUCCESS)
        return {};
    return text;
}

int environment_number(const char* name, int fallback) {
    const std::string value = setting(name);
    return value.empty() ? fallback : std::atoi(value.c_str());
}

std::string capture_path() {
    const std::string value = setting("ONDELLE_TEST_ASIO_CAPTURE");
    if (value.empty()) return {};
    // A Unix path: Wine's Z: drive is the Unix root.
    return value[0] == '/' ? "Z:" + value : value;
}

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
            return 1;
        default:
            return 4;
    }
}

class TestDriver final : public IASIO {
  public:
    TestDriver()
        : pcm_type_(environment_number("ONDELLE_TEST_ASIO_TYPE", ASIOSTInt32LSB)),
          dsd_(environment_number("ONDELLE_TEST_ASIO_DSD", 0) == 1),
          reset_ms_(environment_number("ONDELLE_TEST_ASIO_RESET_MS", -1)),
          capture_(capture_path()) {
        ++objects;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (iid == IID_IUnknown || iid == driver_clsid) {
            *object = static_cast<IASIO*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    ASIOBool init(void*) override { return ASIOTrue; }
    void getDriverName(char* name) override { std::snprintf(name, 32, "Ondelle Test DAC"); }
    std::int32_t getDriverVersion() override { return 1; }
    void getErrorMessage(char* text) override { std::snprintf(text, 124, "%s", error_.c_str()); }

    ASIOError start() override {
        if (buffers_.empty()) return ASE_InvalidMode;
        if (thread_.joinable()) return ASE_OK;
        stopping_ = false;
        thread_ = std::thread([this] { run(); });
        return ASE_OK;
    }
    ASIOError stop() override {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
        return ASE_OK;
    }
    ASIOError getChannels(std::int32_t* inputs, std::int32_t* outputs) override {
        *inputs = 0;
        *outputs = 2;
        return ASE_OK;
    }
    ASIOError getLatencies(std::int32_t* input, std::int32_t* output) override {
        *input = 0;
        *output = buffer_size();
        return ASE_OK;
    }
    ASIOError getBufferSize(std::int32_t* min_size, std::int32_t* max_size, std::int32_t* preferred,
                            std::int32_t* granularity) override {
        *min_size = *max_size = *preferred = buffer_size();
        *granularity = 0;
        return ASE_OK;
    }
    ASIOError canSampleRate(ASIOSampleRate rate) override {
        return plays(rate) ? ASE_OK : ASE_NoClock;
    }
    ASIOError getSampleRate(ASIOSampleRate* rate) override {
        *rate = rate_;
        return ASE_OK;
    }
    ASIOError setSampleRate(ASIOSampleRate rate) override {
        if (!plays(rate)) return ASE_NoClock;
        rate_ = rate;
        return ASE_OK;
    }
    ASIOError getClockSources(ASIOClockSource* clocks, std::int32_t* count) override {
        *clocks = ASIOClockSource{};
        clocks->isCurrentSource = ASIOTrue;
        std::snprintf(clocks->name, sizeof clocks->name, "Internal");
        *count = 1;
        return ASE_OK;
    }
    ASIOError setClockSource(std::int32_t) override { return ASE_OK; }
    ASIOError getSamplePosition(ASIOSamples* position, ASIOTimeStamp* stamp) override {
        const auto samples = std::uint64_t(switches_.load()) * std::uint64_t(buffer_size());
        *position = {std::uint32_t(samples >> 32), std::uint32_t(samples)};
        *stamp = {0, 0};
        return ASE_OK;
    }
    ASIOError getChannelInfo(ASIOChannelInfo* info) override {
        if (info->isInput || info->channel < 0 || info->channel > 1) return ASE_InvalidParameter;
        info->isActive = buffers_.empty() ? ASIOFalse : ASIOTrue;
        info->channelGroup = 0;
        info->type = dsd_mode_ ? ASIOSTDSDInt8MSB1 : pcm_type_;
        std::snprintf(info->name, sizeof info->name, "Out %d", int(info->channel) + 1);
        return ASE_OK;
    }
    ASIOError createBuffers(ASIOBufferInfo* infos, std::int32_t count, std::int32_t size,
                            ASIOCallbacks* callbacks) override {
        if (!buffers_.empty() || count != 2 || size != buffer_size()) return ASE_InvalidMode;
        const int type = dsd_mode_ ? ASIOSTDSDInt8MSB1 : pcm_type_;
        step_ = std::size_t(sample_bytes(type));
        half_bytes_ = dsd_mode_ ? std::size_t(size / 8) : std::size_t(size) * step_;
        buffers_.assign(4, std::vector<BYTE>(half_bytes_, 0));
        for (int channel = 0; channel < 2; ++channel) {
            infos[channel].buffers[0] = buffers_[std::size_t(channel) * 2].data();
            infos[channel].buffers[1] = buffers_[std::size_t(channel) * 2 + 1].data();
        }
        callbacks_ = *callbacks;
        return ASE_OK;
    }
    ASIOError disposeBuffers() override {
        stop();
        buffers_.clear();
        return ASE_OK;
    }
    ASIOError controlPanel() override { return ASE_NotPresent; }
    ASIOError future(std::int32_t selector, void* option) override {
        if (selector != kAsioSetIoFormat && selector != kAsioCanDoIoFormat) return ASE_NotPresent;
        const auto* format = static_cast<const ASIOIoFormat*>(option);
        const bool dsd = format && format->FormatType == kASIODSDFormat;
        if (dsd && !dsd_) return ASE_NotPresent;
        if (selector == kAsioSetIoFormat && dsd != dsd_mode_) {
            dsd_mode_ = dsd;
            rate_ = dsd ? 2822400 : 44100;
        }
        return ASE_SUCCESS;
    }
    ASIOError outputReady() override { return ASE_OK; }

  private:
    ~TestDriver() {
        stop();
        --objects;
    }

    int buffer_size() const { return dsd_mode_ ? 4096 : 512; }
    bool plays(double rate) const {
        if (dsd_mode_) return rate == 2822400 || rate == 5644800;
        for (const double pcm : {44100.0, 48000.0, 88200.0, 96000.0, 176400.0, 192000.0})
            if (rate == pcm) return true;
        return false;
    }

    // The driver's own thread: a half buffer every buffer_size / rate seconds.
    void run() {
        using Clock = std::chrono::steady_clock;
        const auto half = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(double(buffer_size()) / rate_));
        std::FILE* file = capture_.empty() ? nullptr : std::fopen(capture_.c_str(), "ab");
        std::vector<BYTE> interleaved(half_bytes_ * 2);
        auto next = Clock::now();
        int index = 0;
        std::unique_lock lock(mutex_);
        for (std::uint64_t delivered = 0;; ++delivered) {
            next += half;
            if (wake_.wait_until(lock, next, [this] { return stopping_; })) break;
            const double audio_ms = double(delivered) * buffer_size() * 1000.0 / rate_;
            if (reset_ms_ >= 0 && audio_ms >= reset_ms_ && !reset_sent.exchange(true)) {
                lock.unlock();
                callbacks_.asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
                lock.lock();
                wake_.wait(lock, [this] { return stopping_; });  // until it is reopened
                break;
            }
            lock.unlock();
            callbacks_.bufferSwitch(index, ASIOTrue);
            if (file) {
                BYTE* to = interleaved.data();
                for (std::size_t at = 0; at + step_ <= half_bytes_; at += step_) {
                    std::memcpy(to, buffers_[std::size_t(index)].data() + at, step_);
                    std::memcpy(to + step_, buffers_[2 + std::size_t(index)].data() + at, step_);
                    to += 2 * step_;
                }
                std::fwrite(interleaved.data(), 1, std::size_t(to - interleaved.data()), file);
                std::fflush(file);
            }
            ++switches_;
            index ^= 1;
            lock.lock();
        }
        if (file) std::fclose(file);
    }

    std::atomic<ULONG> references_{1};
    const ASIOSampleType pcm_type_;
    const bool dsd_;
    const int reset_ms_;
    const std::string capture_;
    std::string error_;
    bool dsd_mode_ = false;
    double rate_ = 44100;
    std::vector<std::vector<BYTE>> buffers_;  // left 0, left 1, right 0, right 1
    std::size_t half_bytes_ = 0;
    std::size_t step_ = 4;
    ASIOCallbacks callbacks_{};
    std::atomic<std::uint64_t> switches_{0};
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

class Factory final : public IClassFactory {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }  // lives as long as the DLL
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        auto* driver = new (std::nothrow) TestDriver;  // COM's reference count owns it
        if (!driver) return E_OUTOFMEMORY;
        const HRESULT result = driver->QueryInterface(iid, object);
        driver->Release();
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory factory;

}  // namespace

extern "C" __declspec(dllexport) HRESULT STDMETHODCALLTYPE
    DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!(clsid == driver_clsid)) return CLASS_E_CLASSNOTAVAILABLE;
    return factory.QueryInterface(iid, object);
}

extern "C" __declspec(dllexport) HRESULT STDMETHODCALLTYPE DllCanUnloadNow() {
    return objects.load() == 0 ? S_OK : S_FALSE;
}

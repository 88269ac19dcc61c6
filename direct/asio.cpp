// The driver thread and the driver operations: load, open, start, close, unload, the
// capability query, the settings window, and the timer's reset and idle duties.
#include "asio.h"

#include <cstdio>
#include <cstring>

#include "driver_samples.h"
#include "program_name.h"
#include "win/hresult_text.h"
#include "win/log_line.h"

namespace ondelle::direct {

using namespace asio;

std::atomic<Asio*> current_asio{nullptr};

namespace {

constexpr std::uint64_t idle_unload_ms = 10001;

const std::int32_t pcm_probe_rates[] = {44100,  48000,  88200,  96000,  176400,
                                        192000, 352800, 384000, 705600, 768000};
const std::int32_t dsd_probe_rates[] = {2822400,  3072000,  5644800,  6144000,
                                        11289600, 12288000, 22579200, 24576000};

ASIOIoFormat io_format(ASIOIoFormatType type) {
    ASIOIoFormat format{};
    format.FormatType = type;
    return format;
}

ASIOError switch_io_format(IASIO* driver, std::int32_t selector, ASIOIoFormatType type) {
    ASIOIoFormat format = io_format(type);
    return driver->future(selector, &format);
}

std::int32_t channel_zero_type(IASIO* driver) {
    ASIOChannelInfo info{};
    info.channel = 0;
    info.isInput = ASIOFalse;
    return driver->getChannelInfo(&info) == ASE_OK ? info.type : -1;
}

std::string driver_message(IASIO* driver) {
    char text[128] = {};
    driver->getErrorMessage(text);
    text[sizeof text - 1] = '\0';
    return text[0] ? std::string(text) : std::string("the driver did not say why");
}

}  // namespace

Asio::Asio(DriverEntry entry, HANDLE event, bool output_ready_allowed)
    : data_event(event),
      clsid_(entry.clsid),
      name_(std::move(entry.name)),
      output_ready_allowed_(output_ready_allowed),
      apartment_("asio driver", L"Ondelle-Direct", 500,
                 {[this] { on_timer(); }, [this] { unload(); }}) {}

Asio::~Asio() {
    stop_thread();
}

void Asio::start_thread() {
    apartment_.start();
}

void Asio::stop_thread() {
    apartment_.stop();
}

void Asio::on_timer() {
    handle_reset();
    recovery.on_timer(*this);
    unload_if_idle();
}

bool Asio::load(std::string& error) {
    if (driver_) return true;
    const HRESULT result =
        CoCreateInstance(clsid_, nullptr, CLSCTX_INPROC_SERVER, clsid_, driver_.put_void());
    if (FAILED(result) || !driver_) {
        error = recovery.load_failure("the driver could not be loaded (" + hresult_text(result) +
                                      ") \xe2\x80\x94 a 32-bit-only driver cannot load here");
        driver_.reset();
        return false;
    }
    if (driver_->init(apartment_.window()) == ASIOFalse) {
        error = recovery.load_failure("the driver did not start: " + driver_message(driver_.get()));
        driver_.reset();
        return false;
    }
    buffers_created = false;
    started_ = false;
    dsd_mode = false;
    rate_ = 0.0;
    recovery.loaded();
    return true;
}

void Asio::tear_down_buffers() {
    if (started_) driver_->stop();
    if (buffers_created) driver_->disposeBuffers();
    started_ = false;
    buffers_created = false;
    armed = false;
}

bool Asio::open(bool dsd, double rate, std::string& error) {
    if (!load(error)) return false;
    tear_down_buffers();
    if (dsd != dsd_mode) {
        const ASIOError answer = switch_io_format(driver_.get(), kAsioSetIoFormat,
                                                  dsd ? kASIODSDFormat : kASIOPCMFormat);
        if (dsd && answer != ASE_SUCCESS) {
            error = "the driver would not switch to DSD";
            return false;
        }
        dsd_mode = dsd;
    }
    if (rate != rate_) {
        if (driver_->setSampleRate(rate) != ASE_OK) {
            char text[32];
            std::snprintf(text, sizeof text, "%.0f", rate);
            error = "the driver would not run at " + std::string(text) + " Hz";
            return false;
        }
        rate_ = rate;
    }
    const std::int32_t type = channel_zero_type(driver_.get());
    sample_type = type;
    if (!sample_type_plays(type, dsd)) {
        error = "the driver's sample type is not one this plays";
        return false;
    }
    std::int32_t min_size = 0, max_size = 0, preferred = 0, granularity = 0;
    if (driver_->getBufferSize(&min_size, &max_size, &preferred, &granularity) != ASE_OK ||
        preferred <= 0) {
        error = "the driver gave no buffer size";
        return false;
    }
    buffer_size = preferred;
    for (std::int32_t channel = 0; channel < 2; ++channel) {
        buffer_infos_[channel] = ASIOBufferInfo{};
        buffer_infos_[channel].isInput = ASIOFalse;
        buffer_infos_[channel].channelNum = channel;
    }
    callbacks_ = asio_callbacks();
    if (driver_->createBuffers(buffer_infos_.data(), 2, preferred, &callbacks_) != ASE_OK) {
        error = "the driver could not make its buffers: " + driver_message(driver_.get());
        return false;
    }
    buffers_created = true;
    std::int32_t input_latency = 0, latency = 0;
    output_latency =
        driver_->getLatencies(&input_latency, &latency) == ASE_OK ? latency : preferred;
    use_output_ready_ = output_ready_allowed_ && driver_->outputReady() == ASE_OK;
    fill_with_silence();
    return true;
}

void Asio::fill_with_silence() {
    const bool dsd = dsd_mode;
    const std::size_t bytes =
        dsd ? std::size_t(buffer_size / 8) : std::size_t(buffer_size) * sample_stride(sample_type);
    for (const ASIOBufferInfo& info : buffer_infos_)
        for (void* half : info.buffers)
            if (half) std::memset(half, dsd ? dsd_silence : 0, bytes);
}

bool Asio::start(std::string& error) {
    if (!buffers_created) {
        error = "not open";
        return false;
    }
    if (started_) return true;
    last_callback = GetTickCount64();
    if (driver_->start() == ASE_OK) {
        started_ = true;
        return true;
    }
    error = "the driver would not start: " + driver_message(driver_.get());
    return false;
}

void Asio::close() {
    if (driver_) tear_down_buffers();
    idle_since_ = GetTickCount64();
}

void Asio::unload() {
    if (!driver_) return;
    tear_down_buffers();
    driver_.reset();
}

Caps Asio::query_caps(std::string& error) {
    Caps caps;
    if (!load(error)) return caps;
    IASIO* driver = driver_.get();
    std::int32_t inputs = 0, outputs = 0;
    driver->getChannels(&inputs, &outputs);
    caps.outputs = outputs;
    if (outputs < 2) {
        error = "the driver has fewer than two outputs";
        return caps;
    }
    switch_io_format(driver, kAsioSetIoFormat, kASIOPCMFormat);
    dsd_mode = false;
    caps.sample_type = channel_zero_type(driver);
    if (sample_type_plays(caps.sample_type, false))
        for (const std::int32_t rate : pcm_probe_rates)
            if (driver->canSampleRate(rate) == ASE_OK) caps.rates.push_back(rate);
    if (switch_io_format(driver, kAsioCanDoIoFormat, kASIODSDFormat) == ASE_SUCCESS &&
        switch_io_format(driver, kAsioSetIoFormat, kASIODSDFormat) == ASE_SUCCESS) {
        dsd_mode = true;
        caps.dsd_sample_type = channel_zero_type(driver);
        if (sample_type_plays(caps.dsd_sample_type, true))
            for (const std::int32_t rate : dsd_probe_rates)
                if (driver->canSampleRate(rate) == ASE_OK) caps.dsd_rates.push_back(rate);
        switch_io_format(driver, kAsioSetIoFormat, kASIOPCMFormat);
        dsd_mode = false;
    }
    if (caps.rates.empty() && error.empty())
        error = "the driver offers no PCM rate it can play as it is";
    return caps;
}

Caps Asio::probe(std::string& error) {
    return call([&] {
        Caps caps = query_caps(error);
        unload();
        return caps;
    });
}

bool Asio::show_panel(std::string& error) {
    if (!load(error)) return false;
    return driver_->controlPanel() == ASE_OK;
}

void Asio::handle_reset() {
    if (!reset_request.exchange(false) || !buffers_created) return;
    log_line(program_name, "the driver asked for a reset \xe2\x80\x94 reopening");
    const double rate = rate_;
    const bool dsd = dsd_mode;
    const bool was_started = started_;
    // A reset is transparent to the sink: if it was playing, it plays on from the ring
    // without waiting for a write that may never come (the stream's last one may be past).
    const bool was_armed = armed;
    unload();
    std::string error;
    bool reopened = open(dsd, rate, error);
    if (reopened && was_started) reopened = start(error);
    if (!reopened) {
        log_line(program_name, "reopen failed: " + error);
        if (was_started) recovery.give_up(*this);
        return;
    }
    if (was_armed && was_started) armed = true;
}

bool Asio::load_until_idle(std::string& error) {
    if (!load(error)) return false;
    idle_since_ = GetTickCount64();
    return true;
}

void Asio::unload_if_idle() {
    if (!driver_ || buffers_created || idle_since_ == 0) return;
    if (GetTickCount64() - idle_since_ < idle_unload_ms) return;
    unload();
    idle_since_ = 0;
}

}  // namespace ondelle::direct

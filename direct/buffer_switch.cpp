// The driver's callbacks. The buffer switch, on the driver's own thread, moves one half
// buffer from the ring into the driver's buffers, in its sample type, with silence for what
// the ring cannot give; it takes no lock and allocates nothing.
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "asio.h"
#include "half_buffer.h"
#include "program_name.h"
#include "sample_types.h"
#include "win/log_line.h"

namespace ondelle::direct {

using namespace asio;

void Asio::render(std::int32_t index) {
    last_callback.exchange(GetTickCount64());
    if (!buffers_created.load(std::memory_order_acquire)) return;
    const std::int32_t half = index & 1;
    auto* left = static_cast<std::uint8_t*>(buffer_infos_[0].buffers[half]);
    auto* right = static_cast<std::uint8_t*>(buffer_infos_[1].buffers[half]);
    const bool dsd = dsd_mode.load();
    const std::int32_t type = sample_type.load();
    const std::int32_t frame = frame_bytes.load();
    const std::int32_t h = dsd ? buffer_size.load() / 8 : buffer_size.load();

    if (discard_request.exchange(false)) ring.discard();

    // Straight from the ring into the driver's buffers; the ring's room is given back only
    // once they are filled, so that the writer cannot overwrite what is being read.
    std::uint64_t n = 0;
    if (armed.load() && !paused.load() && ring.size() != 0) {
        n = std::min<std::uint64_t>(ring.queued() / std::uint64_t(frame), std::uint64_t(h));
        if (n < std::uint64_t(h) && !no_more_audio.load()) underrun_count.fetch_add(1);
    }
    if (left && right) {
        const RingRuns<const std::uint8_t> from = ring.readable(n * std::uint64_t(frame));
        if (dsd)
            fill_dsd_half(from, h, sample_type_of(type).lsb_first, left, right);
        else
            fill_pcm_half(from, h, type, gain.load(), dither_state, left, right);
    }
    if (n > 0) ring.consume(n * std::uint64_t(frame));

    const std::uint64_t count = callback_count.load();
    history[count % 8].store(std::int32_t(n));
    callback_count.store(count + 1);
    if (use_output_ready_ && driver_) driver_->outputReady();
    std::uint64_t wants = writer_wants.load();
    if (wants != 0 && ring.room() >= wants && writer_wants.compare_exchange_strong(wants, 0))
        SetEvent(data_event);
}

namespace {

void buffer_switch(std::int32_t index, ASIOBool) {
    if (Asio* asio = current_asio.load()) asio->render(index);
}

ASIOTime* buffer_switch_time_info(ASIOTime*, std::int32_t index, ASIOBool) {
    if (Asio* asio = current_asio.load()) asio->render(index);
    return nullptr;
}

void sample_rate_did_change(ASIOSampleRate rate) {
    char text[96];
    std::snprintf(text, sizeof text, "the driver says its rate is now %.0f Hz", rate);
    log_line(program_name, text);
}

std::int32_t asio_message(std::int32_t selector, std::int32_t value, void*, double*) {
    switch (selector) {
        case kAsioSelectorSupported:
            return value == kAsioEngineVersion || value == kAsioResetRequest ||
                           value == kAsioResyncRequest || value == kAsioLatenciesChanged ||
                           value == kAsioSupportsTimeInfo
                       ? 1
                       : 0;
        case kAsioEngineVersion:
            return 2;
        case kAsioResetRequest:
            if (Asio* asio = current_asio.load()) asio->reset_request = true;
            return 1;
        case kAsioResyncRequest:
        case kAsioLatenciesChanged:
            return 1;
        default:
            return 0;
    }
}

}  // namespace

ASIOCallbacks asio_callbacks() {
    ASIOCallbacks callbacks{};
    callbacks.bufferSwitch = buffer_switch;
    callbacks.sampleRateDidChange = sample_rate_did_change;
    callbacks.asioMessage = asio_message;
    callbacks.bufferSwitchTimeInfo = buffer_switch_time_info;
    return callbacks;
}

}  // namespace ondelle::direct

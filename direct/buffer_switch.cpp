// The driver's callbacks. The buffer switch, on the driver's own thread, moves one half
// buffer from the ring into the driver's buffers, in its sample type, with silence for what
// the ring cannot give; it takes no lock and allocates nothing once open has sized the
// scratch buffer.
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "asio.h"
#include "program_name.h"
#include "sample_store.h"
#include "win/log_line.h"

namespace ondelle {

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

    if (discard_request.exchange(false)) read_pos.exchange(write_pos.load());

    std::uint64_t n = 0;
    if (armed.load() && !paused.load() && !ring.empty()) {
        const std::size_t wanted = std::size_t(h) * std::size_t(frame);
        if (scratch.size() < wanted) scratch.resize(wanted, 0);
        const std::uint64_t read = read_pos.load();
        const std::uint64_t take = std::min<std::uint64_t>(write_pos.load() - read, wanted);
        const std::size_t size = ring.size();
        const std::size_t at = std::size_t(read % size);
        const std::size_t first = std::min<std::size_t>(std::size_t(take), size - at);
        std::memcpy(scratch.data(), ring.data() + at, first);
        std::memcpy(scratch.data() + first, ring.data(), std::size_t(take) - first);
        read_pos.fetch_add(take);
        n = take / std::uint64_t(frame);
        if (n < std::uint64_t(h) && !no_more_audio.load()) underrun_count.fetch_add(1);
    }

    if (left && right) {
        if (dsd) {
            const bool reverse = type == ASIOSTDSDInt8LSB1;
            for (std::int32_t i = 0; i < h; ++i) {
                std::uint8_t l = dsd_silence, r = dsd_silence;
                if (std::uint64_t(i) < n) {
                    l = scratch[std::size_t(i) * 2];
                    r = scratch[std::size_t(i) * 2 + 1];
                }
                left[i] = reverse ? bit_reverse[l] : l;
                right[i] = reverse ? bit_reverse[r] : r;
            }
        } else {
            const double g = gain.load();
            const int bytes = silence_sample_bytes(type);
            for (std::int32_t i = 0; i < h; ++i) {
                std::int32_t l = 0, r = 0;
                if (std::uint64_t(i) < n) {
                    std::memcpy(&l, &scratch[std::size_t(i) * 8], 4);
                    std::memcpy(&r, &scratch[std::size_t(i) * 8 + 4], 4);
                    if (g != 1.0) {
                        l = requantise(l, g, type, dither_state);
                        r = requantise(r, g, type, dither_state);
                    }
                }
                store_sample(l, type, left + std::size_t(i) * bytes);
                store_sample(r, type, right + std::size_t(i) * bytes);
            }
        }
    }

    const std::uint64_t count = callback_count.load();
    history[count % 8].store(std::int32_t(n));
    callback_count.store(count + 1);
    if (use_output_ready_ && driver_) driver_->outputReady();
    if (n > 0) SetEvent(data_event);
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

}  // namespace ondelle

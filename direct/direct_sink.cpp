// Opening, writing into the ring, flushing, draining, closing and the delay of the sink.
#include "direct_sink.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "program_name.h"
#include "sample_types.h"
#include "win/log_line.h"

namespace ondelle::direct {

namespace {

constexpr DWORD writer_poll_ms = 500;

bool listed(const std::vector<std::int32_t>& rates, std::int32_t rate) {
    return std::find(rates.begin(), rates.end(), rate) != rates.end();
}

}  // namespace

bool DirectSink::refresh_caps(std::string& error) {
    return asio_->call([&] {
        if (!asio_->load(error)) return false;
        std::string ignored;
        caps_ = asio_->query_caps(ignored);
        asio_->recovery.caps_changed = false;
        return true;
    });
}

bool DirectSink::open(const Format& format, std::string& error) {
    if ((asio_->recovery.lost || asio_->recovery.caps_changed) && !refresh_caps(error))
        return false;
    dsd_ = format.kind == "dsd";
    if (!listed(dsd_ ? caps_.dsd_rates : caps_.rates, format.rate)) {
        error = "the driver does not play this format as it is";
        return false;
    }
    const SampleFormat target = dsd_ ? DSD_U8 : S32_LE;
    if (!can_convert(format, target)) {
        error = "the format does not fit";
        return false;
    }
    const bool dsd = dsd_;
    const double rate = format.rate;
    if (!asio_->call([&] { return asio_->open(dsd, rate, error); })) return false;
    const std::int32_t frame_bytes = dsd_ ? 2 : 8;
    asio_->frame_bytes = frame_bytes;
    const std::int64_t buffer_size = asio_->buffer_size.load();
    const std::int64_t ring_bytes =
        dsd_ ? std::max<std::int64_t>(8 * (buffer_size / 8), format.rate / 16)
             : std::max<std::int64_t>(32 * buffer_size, 2 * std::int64_t(format.rate));
    asio_->ring.reset(std::size_t(ring_bytes));
    asio_->paused = false;
    asio_->armed = false;
    asio_->no_more_audio = false;
    asio_->underrun_count = 0;
    for (auto& entry : asio_->history)
        entry = 0;
    format_ = format;
    converter_.reset(format, target);
    is_open_ = true;

    const std::int32_t type = asio_->sample_type.load();
    std::string line;
    if (dsd_)
        line = "DSD " + std::to_string(format.rate) + " Hz \xe2\x86\x92 " +
               (sample_type_of(type).lsb_first ? "DSD LSB-first" : "DSD MSB-first");
    else
        line = "PCM " + std::to_string(format.rate) + " " + std::to_string(format.bits) +
               "-bit \xe2\x86\x92 type " + std::to_string(type);
    log_line(program_name, line + ", buffer " + std::to_string(buffer_size));
    return true;
}

bool DirectSink::arm() {
    asio_->armed = true;
    std::string error;
    if (asio_->call([&] { return asio_->start(error); })) return true;
    log_line(program_name, error);
    return false;
}

std::uint64_t DirectSink::write(const std::uint8_t* data, std::uint64_t frames) {
    asio_->no_more_audio = false;
    scratch_.clear();
    if (converter_.convert(data, frames, scratch_) == 0 || scratch_.empty()) return frames;
    const std::int32_t frame_bytes = asio_->frame_bytes.load();
    const std::int64_t buffer_size = asio_->buffer_size.load();
    const std::uint64_t h = std::uint64_t(dsd_ ? buffer_size / 8 : buffer_size);
    const std::uint64_t threshold = 2 * h * std::uint64_t(frame_bytes);
    SharedByteRing& ring = asio_->ring;
    const std::uint64_t size = ring.size();
    std::size_t copied = 0;
    while (copied < scratch_.size()) {
        const std::size_t took = ring.write(scratch_.data() + copied, scratch_.size() - copied);
        if (took > 0) {
            copied += took;
            // Unarmed, the buffer switch takes nothing: all that is queued is what was written.
            if (!asio_->armed && ring.queued() >= threshold && !asio_->paused && !arm()) return 0;
            continue;
        }
        if (!asio_->armed && !asio_->paused && !arm()) return 0;
        // Woken once a quarter of the ring is free (or what is left to copy, when that is
        // more), or after a while to look for a driver that stalled or went.
        const std::uint64_t wants = std::min<std::uint64_t>(
            size, std::max<std::uint64_t>(size / 4, scratch_.size() - copied));
        asio_->writer_wants = wants;
        // Room may have come between the look above and the word: look again before sleeping;
        // and a driver that went quiet is noticed when it has been quiet for the stall limit.
        if (ring.room() < wants) {
            const std::uint64_t quiet = GetTickCount64() - asio_->last_callback.load();
            const std::uint64_t until_stall =
                quiet < driver_stall_limit_ms ? driver_stall_limit_ms - quiet : 1;
            WaitForSingleObject(asio_->data_event,
                                DWORD(std::min<std::uint64_t>(writer_poll_ms, until_stall)));
        }
        asio_->writer_wants = 0;
        if (asio_->recovery.lost) return 0;
        const std::uint64_t last_callback = asio_->last_callback.load();
        if (asio_->armed && !asio_->paused &&
            GetTickCount64() - last_callback >= driver_stall_limit_ms) {
            // Said once a stall: every later write gives up at once until the driver calls
            // back again.
            if (last_callback != stall_said_at_)
                log_line(program_name,
                         "the driver stopped asking for audio (DAC unplugged or off?)");
            stall_said_at_ = last_callback;
            return 0;
        }
        if (!is_open_) return 0;
    }
    return frames;
}

void DirectSink::flush() {
    asio_->no_more_audio = true;
    if (asio_->armed) {
        asio_->discard_request = true;
        for (int step = 0; step < 40 && asio_->discard_request; ++step)
            Sleep(5);
    }
    asio_->ring.discard();
    converter_.reset(format_, converter_.target());
}

void DirectSink::play_out() {
    asio_->no_more_audio = true;
    // Short of the two half buffers that start it, the driver starts with what there is.
    if (is_open_ && !asio_->armed && !asio_->paused && asio_->ring.queued() != 0) arm();
}

void DirectSink::drain() {
    play_out();
    for (int round = 0; round < 300; ++round) {
        if (delay() == 0 || !asio_->armed || asio_->paused) return;
        Sleep(10);
    }
}

void DirectSink::close() {
    is_open_ = false;
    SetEvent(asio_->data_event);
    asio_->call([this] { asio_->close(); });
}

void DirectSink::stop_writer() {
    is_open_ = false;
    SetEvent(asio_->data_event);
}

std::int64_t DirectSink::delay() {
    if (!is_open_) return 0;
    const std::int32_t frame_bytes = asio_->frame_bytes.load();
    std::int64_t frames = std::int64_t(asio_->ring.queued()) / frame_bytes;
    const std::int64_t buffer_size = asio_->buffer_size.load();
    const std::int64_t d = buffer_size >= 2 ? buffer_size : 1;
    const std::int64_t k = (asio_->output_latency.load() + buffer_size - 1) / d;
    if (asio_->armed && k >= 0) {
        const std::uint64_t count = asio_->callback_count.load();
        const std::uint64_t entries = std::min<std::uint64_t>({std::uint64_t(k) + 1, 7, count});
        for (std::uint64_t i = 1; i <= entries; ++i)
            frames += asio_->history[(count - i) % 8].load();
    }
    return frames;
}

}  // namespace ondelle::direct

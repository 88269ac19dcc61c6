// DSD files, read by our own small readers: DSF (little-endian chunks, each channel in
// blocks of its own, least significant bit first when it says so) and DFF (DSDIFF: big-endian
// chunks, channels already interleaved byte by byte, most significant bit first). On the
// wire a DSD byte holds eight one-bit samples, the earliest in the top bit, one byte per
// channel in turn.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "audio_source.h"

namespace ondelle::send {
namespace {

std::uint64_t little(const std::uint8_t* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

std::uint64_t big(const std::uint8_t* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = v << 8 | p[i];
    return v;
}

std::uint8_t reversed(std::uint8_t b) {
    b = std::uint8_t((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = std::uint8_t((b & 0xCC) >> 2 | (b & 0x33) << 2);
    return std::uint8_t((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

class DsdFile final : public AudioSource {
  public:
    ~DsdFile() override {
        if (file_) std::fclose(file_);
    }

    bool open(const std::string& path, std::string& error) {
        file_ = std::fopen(path.c_str(), "rb");
        std::uint8_t magic[4] = {};
        if (!file_ || std::fread(magic, 1, 4, file_) != 4 || std::fseek(file_, 0, SEEK_END) != 0) {
            error = path + ": cannot be read";
            return false;
        }
        file_size_ = std::uint64_t(std::max(std::ftell(file_), 0L));
        std::string why = "not a DSD file this sender reads";
        const bool ok = std::memcmp(magic, "DSD ", 4) == 0 ? open_dsf(why) : open_dff(why);
        // Payloads are sized from the rate and the channels: what no DAC plays is refused.
        if (!ok || format_.rate <= 0 || format_.rate > max_dsd_rate || format_.channels <= 0 ||
            format_.channels > max_channels) {
            error = path + ": " + why;
            return false;
        }
        format_.kind = "dsd";
        format_.layout = "u8";
        format_.bits = 1;
        return std::fseek(file_, long(data_offset_), SEEK_SET) == 0;
    }

    const Format& format() const override { return format_; }
    std::int64_t total_frames() const override { return std::int64_t(bytes_per_channel_); }

    bool next(std::string& payload, std::int64_t& frames, std::string& error) override {
        payload.clear();
        frames = 0;
        if (sent_ >= bytes_per_channel_) return true;
        const auto channels = std::size_t(format_.channels);
        // About 20 ms: rate / 8 bytes a second per channel.
        std::uint64_t step = std::max<std::uint64_t>(std::uint64_t(format_.rate) / 8 / 50, 1);
        if (block_ != 0) step = block_;
        step = std::min(step, bytes_per_channel_ - sent_);
        payload.resize(step * channels);
        if (block_ == 0) {
            if (std::fread(payload.data(), 1, payload.size(), file_) != payload.size())
                return fail(error);
        } else {
            // One block of each channel, then interleaved byte by byte.
            scratch_.resize(block_ * channels);
            if (std::fread(scratch_.data(), 1, scratch_.size(), file_) != scratch_.size())
                return fail(error);
            for (std::size_t t = 0; t < step; ++t) {
                for (std::size_t ch = 0; ch < channels; ++ch) {
                    const std::uint8_t b = scratch_[ch * block_ + t];
                    payload[t * channels + ch] = char(lsb_first_ ? reversed(b) : b);
                }
            }
        }
        sent_ += step;
        frames = std::int64_t(step);
        return true;
    }

    bool seek(std::int64_t frame) override {
        if (frame < 0 || std::uint64_t(frame) > bytes_per_channel_) return false;
        // DSF goes by whole blocks of every channel; DFF is interleaved byte by byte.
        const std::uint64_t at =
            block_ != 0 ? std::uint64_t(frame) / block_ * block_ : std::uint64_t(frame);
        const std::uint64_t offset = data_offset_ + at * std::uint64_t(format_.channels);
        if (std::fseek(file_, long(offset), SEEK_SET) != 0) return false;
        sent_ = at;
        return true;
    }

  private:
    bool fail(std::string& error) {
        error = "DSD file cannot be read";
        return false;
    }

    bool read_at(std::uint64_t offset, std::uint8_t* out, std::size_t size) {
        return std::fseek(file_, long(offset), SEEK_SET) == 0 &&
               std::fread(out, 1, size, file_) == size;
    }

    // Every size is checked against what is left of the file before it is used, so that no
    // size, however large, can move a read outside the file or a walk backwards.
    bool open_dsf(std::string& why) {
        std::uint8_t head[28], fmt[52], data[12];
        if (!read_at(0, head, sizeof head) || !read_at(28, fmt, sizeof fmt) ||
            std::memcmp(fmt, "fmt ", 4) != 0)
            return false;
        const std::uint64_t fmt_size = little(fmt + 4, 8);
        if (fmt_size < sizeof fmt || fmt_size > file_size_ - 28) return false;
        if (little(fmt + 16, 4) != 0) return false;  // not raw DSD
        format_.channels = std::int32_t(little(fmt + 24, 4));
        format_.rate = std::int32_t(little(fmt + 28, 4));
        const std::uint64_t bits = little(fmt + 32, 4);
        const std::uint64_t samples = little(fmt + 36, 8);
        block_ = little(fmt + 44, 4);
        if (bits != 1 && bits != 8) return false;
        if (format_.channels <= 0 || format_.channels > 8) return false;
        // Channels come in blocks of this many bytes each; any other size would be taken
        // apart at the wrong places.
        if (block_ != dsf_block) {
            why = "DSF with blocks of " + std::to_string(block_) + " bytes (only " +
                  std::to_string(dsf_block) + " are read)";
            return false;
        }
        lsb_first_ = bits == 1;
        const std::uint64_t data_at = 28 + fmt_size;
        if (file_size_ - data_at < sizeof data || !read_at(data_at, data, sizeof data) ||
            std::memcmp(data, "data", 4) != 0)
            return false;
        data_offset_ = data_at + sizeof data;
        // What the file holds, in whole blocks of every channel, bounds what it says it holds.
        const std::uint64_t held = std::min(little(data + 4, 8), file_size_ - data_at);
        const std::uint64_t group = block_ * std::uint64_t(format_.channels);
        const std::uint64_t whole_blocks = held < sizeof data ? 0 : (held - sizeof data) / group;
        bytes_per_channel_ = std::min(samples / 8, whole_blocks * block_);
        return true;
    }

    bool open_dff(std::string& why) {
        std::uint8_t head[16];
        if (!read_at(0, head, sizeof head) || std::memcmp(head + 12, "DSD ", 4) != 0) return false;
        const std::uint64_t end = std::min(file_size_, 12 + std::min(big(head + 4, 8), file_size_));
        bool compressed = false;
        for (std::uint64_t at = 16; at < end && end - at >= 12;) {
            std::uint8_t chunk[12];
            if (!read_at(at, chunk, sizeof chunk)) return false;
            const std::uint64_t body = at + 12;
            const std::uint64_t size = big(chunk + 4, 8);
            const bool is_data = std::memcmp(chunk, "DSD ", 4) == 0;
            // The sound data may be cut short by the file's end; nothing else may be.
            if (size > end - body && !is_data) {
                why = "a chunk runs past the end of the file";
                return false;
            }
            const std::uint64_t held = std::min(size, end - body);
            if (std::memcmp(chunk, "PROP", 4) == 0) {
                if (!read_properties(body, held, compressed)) {
                    why = "its properties run past their chunk";
                    return false;
                }
            } else if (is_data) {
                data_offset_ = body;
                bytes_per_channel_ =
                    format_.channels > 0 ? held / std::uint64_t(format_.channels) : 0;
            } else if (std::memcmp(chunk, "DST ", 4) == 0) {
                compressed = true;
            }
            if (held < size) break;
            at = body + held + (held & 1);
        }
        if (compressed) why = "compressed DSD (DST), which this sender does not read";
        return !compressed && data_offset_ != 0;
    }

    // The sub-chunks of PROP: the rate, the channels and the compression.
    bool read_properties(std::uint64_t body, std::uint64_t size, bool& compressed) {
        if (size < 4) return false;
        const std::uint64_t end = body + size;
        for (std::uint64_t p = body + 4; end - p >= 12;) {
            std::uint8_t sub[16] = {};
            if (!read_at(p, sub, 12)) return false;
            const std::uint64_t sub_size = big(sub + 4, 8);
            if (sub_size > end - (p + 12)) return false;
            const std::size_t readable = std::size_t(std::min<std::uint64_t>(sub_size, 4));
            if (readable > 0 && !read_at(p + 12, sub + 12, readable)) return false;
            if (std::memcmp(sub, "FS  ", 4) == 0 && sub_size >= 4)
                format_.rate = std::int32_t(std::min<std::uint64_t>(big(sub + 12, 4), INT32_MAX));
            if (std::memcmp(sub, "CHNL", 4) == 0 && sub_size >= 2)
                format_.channels = std::int32_t(big(sub + 12, 2));
            if (std::memcmp(sub, "CMPR", 4) == 0 && sub_size >= 4)
                compressed = std::memcmp(sub + 12, "DSD ", 4) != 0;
            const std::uint64_t step = 12 + sub_size + (sub_size & 1);
            if (step > end - p) break;
            p += step;
        }
        return true;
    }

    static constexpr std::uint64_t dsf_block = 4096;
    static constexpr std::int32_t max_dsd_rate = 49152000;  // DSD1024 of the 48 kHz family
    static constexpr std::int32_t max_channels = 8;

    std::FILE* file_ = nullptr;
    std::uint64_t file_size_ = 0;
    Format format_;
    std::uint64_t data_offset_ = 0;
    std::uint64_t bytes_per_channel_ = 0;
    std::uint64_t sent_ = 0;
    std::uint64_t block_ = 0;  // DSF: bytes of one channel in a row; 0 for DFF
    bool lsb_first_ = false;
    std::vector<std::uint8_t> scratch_;
};

}  // namespace

std::unique_ptr<AudioSource> open_dsd_file(const std::string& path, std::string& error) {
    auto file = std::make_unique<DsdFile>();
    if (!file->open(path, error)) return nullptr;
    return file;
}

}  // namespace ondelle::send

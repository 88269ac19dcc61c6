// DSD files, read by our own small readers: DSF (little-endian chunks, each channel in
// blocks of its own, least significant bit first when it says so) and DFF (DSDIFF: big-endian
// chunks, channels already interleaved byte by byte, most significant bit first). On the
// wire a DSD byte holds eight one-bit samples, the earliest in the top bit, one byte per
// channel in turn.
#include <algorithm>
#include <array>
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
        if (!file_ || std::fread(magic, 1, 4, file_) != 4) {
            error = path + ": cannot be read";
            return false;
        }
        const bool ok = std::memcmp(magic, "DSD ", 4) == 0 ? open_dsf() : open_dff();
        if (!ok || format_.rate <= 0 || format_.channels <= 0) {
            error = path + ": not a DSD file this sender reads";
            return false;
        }
        format_.kind = "dsd";
        format_.layout = "u8";
        format_.bits = 1;
        return std::fseek(file_, long(data_offset_), SEEK_SET) == 0;
    }

    const Format& format() const override { return format_; }
    std::int64_t total_frames() const override { return std::int64_t(bytes_per_channel_); }

    bool next(std::string& payload, std::string& error) override {
        payload.clear();
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

    bool open_dsf() {
        std::uint8_t head[28], fmt[52], data[12];
        if (!read_at(0, head, sizeof head) || !read_at(28, fmt, sizeof fmt) ||
            std::memcmp(fmt, "fmt ", 4) != 0)
            return false;
        const std::uint64_t fmt_size = little(fmt + 4, 8);
        if (little(fmt + 16, 4) != 0) return false;  // not raw DSD
        format_.channels = std::int32_t(little(fmt + 24, 4));
        format_.rate = std::int32_t(little(fmt + 28, 4));
        const std::uint64_t bits = little(fmt + 32, 4);
        const std::uint64_t samples = little(fmt + 36, 8);
        block_ = little(fmt + 44, 4);
        if ((bits != 1 && bits != 8) || block_ == 0 || block_ > (1u << 20)) return false;
        lsb_first_ = bits == 1;
        if (!read_at(28 + fmt_size, data, sizeof data) || std::memcmp(data, "data", 4) != 0)
            return false;
        data_offset_ = 28 + fmt_size + 12;
        bytes_per_channel_ = samples / 8;
        return true;
    }

    bool open_dff() {
        std::uint8_t head[16];
        if (!read_at(0, head, sizeof head) || std::memcmp(head + 12, "DSD ", 4) != 0)
            return false;
        const std::uint64_t end = 12 + big(head + 4, 8);
        bool compressed = false;
        for (std::uint64_t at = 16; at + 12 <= end;) {
            std::uint8_t chunk[12];
            if (!read_at(at, chunk, sizeof chunk)) return false;
            const std::uint64_t size = big(chunk + 4, 8);
            const std::uint64_t body = at + 12;
            if (std::memcmp(chunk, "PROP", 4) == 0) {
                for (std::uint64_t p = body + 4; p + 12 <= body + size;) {
                    std::uint8_t sub[16];
                    if (!read_at(p, sub, sizeof sub)) return false;
                    const std::uint64_t sub_size = big(sub + 4, 8);
                    if (std::memcmp(sub, "FS  ", 4) == 0) format_.rate = std::int32_t(big(sub + 12, 4));
                    if (std::memcmp(sub, "CHNL", 4) == 0)
                        format_.channels = std::int32_t(big(sub + 12, 2));
                    if (std::memcmp(sub, "CMPR", 4) == 0) compressed = std::memcmp(sub + 12, "DSD ", 4) != 0;
                    p += 12 + sub_size + (sub_size & 1);
                }
            } else if (std::memcmp(chunk, "DSD ", 4) == 0) {
                data_offset_ = body;
                bytes_per_channel_ = format_.channels > 0 ? size / std::uint64_t(format_.channels) : 0;
            } else if (std::memcmp(chunk, "DST ", 4) == 0) {
                compressed = true;
            }
            at = body + size + (size & 1);
        }
        return !compressed && data_offset_ != 0;
    }

    std::FILE* file_ = nullptr;
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

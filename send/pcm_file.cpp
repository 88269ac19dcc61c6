// WAV, AIFF and the other PCM containers through libsndfile, read as raw samples of the
// file's own depth (16, 24 or 32 bits), so that nothing is converted on the way.
#include <sndfile.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "audio_source.h"

namespace ondelle::send {
namespace {

constexpr int max_channels = 8;
constexpr int max_rate = 1536000;

int depth_of(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_16:
            return 16;
        case SF_FORMAT_PCM_24:
            return 24;
        case SF_FORMAT_PCM_32:
            return 32;
        default:
            return 0;
    }
}

class PcmFile final : public AudioSource {
  public:
    PcmFile(SNDFILE* file, const SF_INFO& info, int bits) : file_(file) {
        format_.kind = "pcm";
        format_.rate = info.samplerate;
        format_.bits = bits;
        format_.channels = info.channels;
        total_ = info.frames;
    }
    ~PcmFile() override { sf_close(file_); }

    const Format& format() const override { return format_; }
    std::int64_t total_frames() const override { return total_; }

    bool next(std::string& payload, std::int64_t& frames_read, std::string& error) override {
        // Samples are read as 32-bit integers, left-justified whatever the depth, and the
        // top bytes of each are the file's own sample: bit-exact for integer PCM.
        const sf_count_t frames = std::max(format_.rate / 50, 1);
        samples_.resize(std::size_t(frames) * std::size_t(format_.channels));
        const sf_count_t got = sf_readf_int(file_, samples_.data(), frames);
        if (got < 0 || sf_error(file_) != SF_ERR_NO_ERROR) {
            error = sf_strerror(file_);
            return false;
        }
        frames_read = got;
        const int bytes = format_.bits / 8;
        payload.resize(std::size_t(got) * std::size_t(format_.channels) * std::size_t(bytes));
        char* out = payload.data();
        for (std::size_t i = 0; i < std::size_t(got) * std::size_t(format_.channels); ++i) {
            const auto sample = static_cast<std::uint32_t>(samples_[i]);
            for (int b = 0; b < bytes; ++b)
                *out++ = static_cast<char>(sample >> (8 * (4 - bytes + b)));
        }
        return true;
    }

    bool seek(std::int64_t frame) override { return sf_seek(file_, frame, SEEK_SET) >= 0; }

  private:
    SNDFILE* file_;
    Format format_;
    std::int64_t total_ = 0;
    std::vector<int> samples_;
};

}  // namespace

std::unique_ptr<AudioSource> open_pcm_file(const std::string& path, std::string& error) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) {
        error = path + ": not audio (" + sf_strerror(nullptr) + ")";
        return nullptr;
    }
    // A header may say anything: what no sound card plays is refused before a buffer is
    // sized from it.
    if (info.channels < 1 || info.channels > max_channels || info.samplerate < 1 ||
        info.samplerate > max_rate) {
        sf_close(file);
        error = path + ": not audio this sender reads (" + std::to_string(info.channels) +
                " channels at " + std::to_string(info.samplerate) + " Hz)";
        return nullptr;
    }
    const int bits = depth_of(info.format);
    if (bits == 0) {
        sf_close(file);
        error = path + ": not 16, 24 or 32-bit integer PCM";
        return nullptr;
    }
    return std::make_unique<PcmFile>(file, info, bits);
}

}  // namespace ondelle::send

// FLAC files: forwarded as they are, cut at frame boundaries (the first payload carries the
// stream header with the first frame), or decoded with libFLAC into PCM of their own depth.
#include <FLAC/stream_decoder.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "audio_source.h"

namespace ondelle::send {
namespace {

class FlacFile final : public AudioSource {
  public:
    FlacFile(const std::string& path, bool forward) : forward_(forward) {
        decoder_ = FLAC__stream_decoder_new();
        raw_ = std::fopen(path.c_str(), "rb");
    }
    ~FlacFile() override {
        if (decoder_) FLAC__stream_decoder_delete(decoder_);
        if (raw_) std::fclose(raw_);
    }

    bool open(const std::string& path, std::string& error) {
        if (!decoder_ || !raw_ ||
            FLAC__stream_decoder_init_file(decoder_, path.c_str(), &FlacFile::on_write,
                                           &FlacFile::on_metadata, &FlacFile::on_error,
                                           this) != FLAC__STREAM_DECODER_INIT_STATUS_OK ||
            !FLAC__stream_decoder_process_until_end_of_metadata(decoder_) || failed_ ||
            format_.rate == 0) {
            error = path + ": not a FLAC file that decodes";
            return false;
        }
        if (format_.bits != 16 && format_.bits != 24 && format_.bits != 32) {
            error = path + ": FLAC of " + std::to_string(format_.bits) + " bits";
            return false;
        }
        if (forward_) format_.codec = "flac";
        FLAC__stream_decoder_get_decode_position(decoder_, &position_);
        return true;
    }

    const Format& format() const override { return format_; }
    std::int64_t total_frames() const override { return total_; }

    bool next(std::string& payload, std::string& error) override {
        payload.clear();
        const std::uint64_t start = first_ ? 0 : position_;
        pcm_.clear();
        if (FLAC__stream_decoder_get_state(decoder_) == FLAC__STREAM_DECODER_END_OF_STREAM)
            return true;
        if (!FLAC__stream_decoder_process_single(decoder_) || failed_) {
            error = "FLAC does not decode";
            return false;
        }
        if (FLAC__stream_decoder_get_state(decoder_) == FLAC__STREAM_DECODER_END_OF_STREAM &&
            pcm_.empty())
            return true;
        if (!forward_) {
            payload.swap(pcm_);
            first_ = false;
            return true;
        }
        // The bytes the frame took in the file, read again as they are.
        std::uint64_t end = 0;
        FLAC__stream_decoder_get_decode_position(decoder_, &end);
        payload.resize(end - start);
        if (std::fseek(raw_, long(start), SEEK_SET) != 0 ||
            std::fread(payload.data(), 1, payload.size(), raw_) != payload.size()) {
            error = "FLAC file cannot be read";
            return false;
        }
        position_ = end;
        first_ = false;
        return true;
    }

  private:
    static FLAC__StreamDecoderWriteStatus on_write(const FLAC__StreamDecoder*,
                                                   const FLAC__Frame* frame,
                                                   const FLAC__int32* const buffer[],
                                                   void* data) {
        auto& self = *static_cast<FlacFile*>(data);
        const int bytes = self.format_.bits / 8;
        const unsigned channels = frame->header.channels;
        for (unsigned i = 0; i < frame->header.blocksize; ++i) {
            for (unsigned ch = 0; ch < channels; ++ch) {
                const auto sample = static_cast<std::uint32_t>(buffer[ch][i]);
                for (int b = 0; b < bytes; ++b)
                    self.pcm_ += static_cast<char>(sample >> (8 * b));
            }
        }
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }
    static void on_metadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* metadata,
                            void* data) {
        auto& self = *static_cast<FlacFile*>(data);
        if (metadata->type != FLAC__METADATA_TYPE_STREAMINFO) return;
        const auto& info = metadata->data.stream_info;
        self.format_.kind = "pcm";
        self.format_.rate = std::int32_t(info.sample_rate);
        self.format_.bits = std::int32_t(info.bits_per_sample);
        self.format_.channels = std::int32_t(info.channels);
        self.total_ = std::int64_t(info.total_samples);
    }
    static void on_error(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* data) {
        static_cast<FlacFile*>(data)->failed_ = true;
    }

    const bool forward_;
    FLAC__StreamDecoder* decoder_ = nullptr;
    std::FILE* raw_ = nullptr;
    Format format_;
    std::int64_t total_ = 0;
    std::uint64_t position_ = 0;
    bool first_ = true;
    bool failed_ = false;
    std::string pcm_;
};

}  // namespace

std::unique_ptr<AudioSource> open_flac_file(const std::string& path, bool forward,
                                            std::string& error) {
    auto file = std::make_unique<FlacFile>(path, forward);
    if (!file->open(path, error)) return nullptr;
    return file;
}

}  // namespace ondelle::send

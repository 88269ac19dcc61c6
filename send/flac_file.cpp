// FLAC files: forwarded as they are, cut at frame boundaries (the first payload carries the
// stream header with the first frame), or decoded with libFLAC into PCM of their own depth.
// Every frame must agree with the stream header; bytes after the last frame (a tag, say)
// are passed over.
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
            !FLAC__stream_decoder_process_until_end_of_metadata(decoder_) || !problem_.empty() ||
            format_.rate == 0) {
            error = path + ": not a FLAC file that decodes";
            return false;
        }
        if (format_.bits != 16 && format_.bits != 24 && format_.bits != 32) {
            error = path + ": FLAC of " + std::to_string(format_.bits) + " bits";
            return false;
        }
        if (forward_) format_.codec = "flac";
        FLAC__stream_decoder_get_decode_position(decoder_, &header_end_);
        // The first frame is decoded now: a file whose frames disagree with its header is
        // refused before any of it is sent.
        if (!decode_frame(error)) {
            error = path + ": " + error;
            return false;
        }
        return true;
    }

    const Format& format() const override { return format_; }
    std::int64_t total_frames() const override { return total_; }
    std::string note() const override { return note_; }

    bool next(std::string& payload, std::int64_t& frames, std::string& error) override {
        payload.clear();
        frames = 0;
        if (!have_frame_ && !decode_frame(error)) return false;
        if (!have_frame_) return true;  // the end
        have_frame_ = false;
        frames = frame_samples_;
        if (!forward_) {
            payload.swap(pcm_);
            return true;
        }
        // The bytes the frame took in the file (the header too, before the first), read
        // again as they are.
        if (resend_header_ && !read_raw(0, header_end_, payload)) return fail_read(error);
        resend_header_ = false;
        return read_raw(frame_start_, frame_end_, payload) || fail_read(error);
    }

    bool seek(std::int64_t frame) override {
        pcm_.clear();
        have_frame_ = false;
        if (!FLAC__stream_decoder_seek_absolute(decoder_, FLAC__uint64(frame)) || !problem_.empty())
            return false;
        // The frame that holds the sample was delivered from that sample on: decoded, it is
        // the next payload; forwarded, a frame goes whole or not at all, so the next whole
        // frame follows the stream header instead.
        if (!forward_ && !pcm_.empty()) {
            have_frame_ = true;
            frame_samples_ = std::int64_t(pcm_.size()) / (format_.channels * format_.bits / 8);
        }
        resend_header_ = forward_;
        return true;
    }

  private:
    // Decodes the next frame into pcm_ and its place in the file; false on a fault, and
    // have_frame_ false at the end.
    bool decode_frame(std::string& error) {
        pcm_.clear();
        have_frame_ = false;
        frame_samples_ = 0;
        if (FLAC__stream_decoder_get_state(decoder_) == FLAC__STREAM_DECODER_END_OF_STREAM)
            return true;
        std::uint64_t start = 0;
        FLAC__stream_decoder_get_decode_position(decoder_, &start);
        if (first_) start = 0;
        if (!FLAC__stream_decoder_process_single(decoder_) || !problem_.empty()) {
            error = problem_.empty() ? "FLAC does not decode" : problem_;
            return false;
        }
        if (pcm_.empty() && frame_samples_ == 0) {
            // No frame came: the end of the stream, after what may be a tag or other bytes.
            if (lost_sync_) note_ = "what follows the last FLAC frame was passed over";
            return true;
        }
        FLAC__stream_decoder_get_decode_position(decoder_, &frame_end_);
        frame_start_ = start;
        first_ = false;
        have_frame_ = true;
        return true;
    }

    // Appends the file's bytes from begin to end.
    bool read_raw(std::uint64_t begin, std::uint64_t end, std::string& out) {
        const std::size_t at = out.size();
        out.resize(at + (end - begin));
        return std::fseek(raw_, long(begin), SEEK_SET) == 0 &&
               std::fread(out.data() + at, 1, end - begin, raw_) == end - begin;
    }
    static bool fail_read(std::string& error) {
        error = "FLAC file cannot be read";
        return false;
    }

    static FLAC__StreamDecoderWriteStatus on_write(const FLAC__StreamDecoder*,
                                                   const FLAC__Frame* frame,
                                                   const FLAC__int32* const buffer[], void* data) {
        auto& self = *static_cast<FlacFile*>(data);
        const auto& header = frame->header;
        self.frame_samples_ = header.blocksize;
        if (self.lost_sync_) {
            // Frames after a stretch that did not decode: a fault in the middle of the file.
            self.problem_ = "FLAC does not decode in the middle of the file";
            return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
        }
        if (int(header.bits_per_sample) != self.format_.bits ||
            int(header.channels) != self.format_.channels ||
            int(header.sample_rate) != self.format_.rate) {
            self.problem_ = "a frame of " + std::to_string(header.bits_per_sample) + " bits, " +
                            std::to_string(header.channels) + " channels at " +
                            std::to_string(header.sample_rate) +
                            " Hz where the stream header says " +
                            std::to_string(self.format_.bits) + " bits, " +
                            std::to_string(self.format_.channels) + " channels at " +
                            std::to_string(self.format_.rate) + " Hz";
            return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
        }
        if (self.forward_) return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
        const int bytes = self.format_.bits / 8;
        for (unsigned i = 0; i < header.blocksize; ++i) {
            for (unsigned ch = 0; ch < header.channels; ++ch) {
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
    static void on_error(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus status,
                         void* data) {
        auto& self = *static_cast<FlacFile*>(data);
        // Lost sync is a fault only if a frame follows it; at the end it is a tag or other
        // bytes after the audio.
        if (status == FLAC__STREAM_DECODER_ERROR_STATUS_LOST_SYNC) {
            self.lost_sync_ = true;
            return;
        }
        self.problem_ = "FLAC does not decode";
    }

    const bool forward_;
    FLAC__StreamDecoder* decoder_ = nullptr;
    std::FILE* raw_ = nullptr;
    Format format_;
    std::int64_t total_ = 0;
    bool first_ = true;
    bool have_frame_ = false;
    bool lost_sync_ = false;
    std::string problem_;  // set by the callbacks: why the file cannot be played on
    std::string note_;
    std::string pcm_;
    std::uint64_t frame_start_ = 0;
    std::uint64_t frame_end_ = 0;
    std::int64_t frame_samples_ = 0;
    std::uint64_t header_end_ = 0;  // where the metadata ends and the first frame begins
    bool resend_header_ = false;    // forwarded after a seek: the header goes first again
};

}  // namespace

std::unique_ptr<AudioSource> open_flac_file(const std::string& path, bool forward,
                                            std::string& error) {
    auto file = std::make_unique<FlacFile>(path, forward);
    if (!file->open(path, error)) return nullptr;
    return file;
}

}  // namespace ondelle::send

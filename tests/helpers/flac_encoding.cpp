#include "helpers/flac_encoding.h"

#include <FLAC/stream_encoder.h>

#include <stdexcept>

namespace ondelle::test {
namespace {

FLAC__StreamEncoderWriteStatus collect(const FLAC__StreamEncoder*, const FLAC__byte buffer[],
                                       std::size_t bytes, std::uint32_t samples, std::uint32_t,
                                       void* client) {
    auto& stream = *static_cast<FlacStream*>(client);
    const std::string piece(reinterpret_cast<const char*>(buffer), bytes);
    if (samples == 0 && stream.frames.empty()) {
        stream.header += piece;
    } else if (samples > 0) {
        stream.frames.push_back(piece);
    } else {
        stream.frames.back() += piece;
    }
    return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
}

}  // namespace

FlacStream encode_flac(int bits, int channels, int block_size, int frames, int rate) {
    FlacStream stream;
    FLAC__StreamEncoder* encoder = FLAC__stream_encoder_new();
    FLAC__stream_encoder_set_channels(encoder, static_cast<unsigned>(channels));
    FLAC__stream_encoder_set_bits_per_sample(encoder, static_cast<unsigned>(bits));
    FLAC__stream_encoder_set_sample_rate(encoder, static_cast<unsigned>(rate));
    FLAC__stream_encoder_set_blocksize(encoder, static_cast<unsigned>(block_size));
    FLAC__stream_encoder_set_compression_level(encoder, 5);
    if (FLAC__stream_encoder_init_stream(encoder, collect, nullptr, nullptr, nullptr, &stream) !=
        FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
        FLAC__stream_encoder_delete(encoder);
        throw std::runtime_error("FLAC encoder would not start");
    }
    const int bytes = bits / 8;
    const std::int64_t full = (std::int64_t{1} << (bits - 1)) - 1;
    std::vector<FLAC__int32> interleaved(static_cast<std::size_t>(block_size * channels));
    std::uint32_t noise = 12345;
    for (int f = 0; f < frames; ++f) {
        std::string pcm;
        for (int i = 0; i < block_size; ++i) {
            for (int ch = 0; ch < channels; ++ch) {
                noise = noise * 1664525u + 1013904223u;
                // A ramp across the whole range plus noise, so every bit is exercised.
                const std::int64_t ramp =
                    (static_cast<std::int64_t>(i) * 2 * full / block_size) - full;
                std::int64_t sample =
                    ramp / 2 + static_cast<std::int64_t>(noise % 1024) - 512 + ch * 3;
                sample = std::max(-full - 1, std::min(full, sample));
                interleaved[static_cast<std::size_t>(i * channels + ch)] =
                    static_cast<FLAC__int32>(sample);
                for (int k = 0; k < bytes; ++k)
                    pcm += static_cast<char>(static_cast<std::uint64_t>(sample) >> (8 * k));
            }
        }
        stream.pcm.push_back(pcm);
        FLAC__stream_encoder_process_interleaved(encoder, interleaved.data(),
                                                 static_cast<unsigned>(block_size));
    }
    FLAC__stream_encoder_finish(encoder);
    FLAC__stream_encoder_delete(encoder);
    if (stream.frames.size() != static_cast<std::size_t>(frames))
        throw std::runtime_error("unexpected FLAC framing");
    return stream;
}

}  // namespace ondelle::test

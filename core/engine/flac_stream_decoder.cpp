// FLAC payloads decoded with libFLAC's stream decoder and packed as wire PCM.
#include "engine/flac_stream_decoder.h"

#include <FLAC/stream_decoder.h>

#include <algorithm>
#include <cstring>

namespace ondelle {
namespace {

constexpr std::size_t max_output = 1048576;  // bounds what one message can make us allocate

// The low b bytes of each sample, little-endian, left then right: one loop per depth so the
// compiler can keep it tight.
template <std::size_t B>
void interleave_as(const FLAC__int32* left, const FLAC__int32* right, std::size_t n,
                   std::uint8_t* out) {
    for (std::size_t i = 0; i < n; ++i, out += 2 * B) {
        const auto l = static_cast<std::uint32_t>(left[i]);
        const auto r = static_cast<std::uint32_t>(right[i]);
        for (std::size_t k = 0; k < B; ++k) {
            out[k] = static_cast<std::uint8_t>(l >> (8 * k));
            out[B + k] = static_cast<std::uint8_t>(r >> (8 * k));
        }
    }
}

void interleave(const FLAC__int32* left, const FLAC__int32* right, std::size_t n, std::size_t b,
                std::uint8_t* out) {
    switch (b) {
        case 2:
            return interleave_as<2>(left, right, n, out);
        case 3:
            return interleave_as<3>(left, right, n, out);
        default:
            return interleave_as<4>(left, right, n, out);
    }
}

struct DecoderDeleter {
    void operator()(FLAC__StreamDecoder* decoder) const { FLAC__stream_decoder_delete(decoder); }
};

}  // namespace

struct FlacStreamDecoder::State {
    std::unique_ptr<FLAC__StreamDecoder, DecoderDeleter> decoder;
    int expected_bits = 0;
    const std::uint8_t* input = nullptr;
    std::size_t remaining = 0;
    ByteVector* output = nullptr;
    bool failed = false;

    static FLAC__StreamDecoderReadStatus read(const FLAC__StreamDecoder*, FLAC__byte buffer[],
                                              std::size_t* bytes, void* client) {
        auto& self = *static_cast<State*>(client);
        if (self.remaining == 0) {
            *bytes = 0;
            return FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
        }
        const std::size_t n = std::min(*bytes, self.remaining);
        std::memcpy(buffer, self.input, n);
        self.input += n;
        self.remaining -= n;
        *bytes = n;
        return FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
    }

    static FLAC__StreamDecoderWriteStatus write(const FLAC__StreamDecoder*,
                                                const FLAC__Frame* frame,
                                                const FLAC__int32* const channels[], void* client) {
        auto& self = *static_cast<State*>(client);
        if (frame->header.channels != 2 ||
            frame->header.bits_per_sample != static_cast<unsigned>(self.expected_bits)) {
            self.failed = true;
            return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
        }
        const std::size_t b = static_cast<std::size_t>(self.expected_bits / 8);
        const std::size_t n = frame->header.blocksize;
        ByteVector& out = *self.output;
        if (out.size() + 2 * n * b > max_output) {
            self.failed = true;
            return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
        }
        const std::size_t start = out.size();
        out.resize(start + 2 * n * b);
        interleave(channels[0], channels[1], n, b, out.data() + start);
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }

    static void error(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* client) {
        static_cast<State*>(client)->failed = true;
    }
};

FlacStreamDecoder::FlacStreamDecoder() : state_(std::make_unique<State>()) {}
FlacStreamDecoder::~FlacStreamDecoder() = default;

bool FlacStreamDecoder::init(int bits) {
    State& s = *state_;
    s.decoder.reset(FLAC__stream_decoder_new());
    s.expected_bits = bits;
    s.failed = false;
    s.remaining = 0;
    if (!s.decoder) return false;
    const auto status =
        FLAC__stream_decoder_init_stream(s.decoder.get(), &State::read, nullptr, nullptr, nullptr,
                                         nullptr, &State::write, nullptr, &State::error, &s);
    if (status != FLAC__STREAM_DECODER_INIT_STATUS_OK) {
        s.decoder.reset();
        return false;
    }
    return true;
}

bool FlacStreamDecoder::decode(const std::uint8_t* data, std::size_t size, ByteVector& output) {
    State& s = *state_;
    output.clear();
    if (!s.decoder || s.failed) return false;
    // Every error sticks, also one that libFLAC reports by its state alone.
    if (!decode_message(data, size, output)) {
        s.failed = true;
        return false;
    }
    return true;
}

bool FlacStreamDecoder::decode_message(const std::uint8_t* data, std::size_t size,
                                       ByteVector& output) {
    State& s = *state_;
    s.input = data;
    s.remaining = size;
    s.output = &output;
    FLAC__StreamDecoder* decoder = s.decoder.get();
    if (size >= 4 && std::memcmp(data, "fLaC", 4) == 0) {
        if (!FLAC__stream_decoder_reset(decoder)) return false;
    } else if (FLAC__stream_decoder_get_state(decoder) == FLAC__STREAM_DECODER_END_OF_STREAM) {
        if (!FLAC__stream_decoder_flush(decoder)) return false;
    }
    for (;;) {
        const FLAC__StreamDecoderState state = FLAC__stream_decoder_get_state(decoder);
        if (state == FLAC__STREAM_DECODER_END_OF_STREAM) return !s.failed;
        if (state > FLAC__STREAM_DECODER_END_OF_STREAM) return false;
        if (s.failed || !FLAC__stream_decoder_process_single(decoder)) return false;
    }
}

}  // namespace ondelle

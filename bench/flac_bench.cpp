// FlacStreamDecoder against libFLAC decoding the same stream directly, message by message
// the way a sender cuts it (header, then one FLAC frame per message).
#include <benchmark/benchmark.h>

#include <FLAC/stream_decoder.h>

#include <cstring>

#include "engine/flac_stream_decoder.h"
#include "helpers/flac_encoding.h"

namespace {

const ondelle::test::FlacStream& stream() {
    static const auto s = ondelle::test::encode_flac(24, 2, 4096, 200, 96000);
    return s;
}

std::size_t pcm_bytes() {
    std::size_t total = 0;
    for (const auto& p : stream().pcm)
        total += p.size();
    return total;
}

void ours(benchmark::State& state) {
    ondelle::FlacStreamDecoder decoder;
    ondelle::ByteVector out;
    out.reserve(1 << 20);
    for (auto _ : state) {
        decoder.init(24);
        const auto& s = stream();
        decoder.decode(reinterpret_cast<const std::uint8_t*>(s.header.data()), s.header.size(),
                       out);
        for (const auto& frame : s.frames) {
            decoder.decode(reinterpret_cast<const std::uint8_t*>(frame.data()), frame.size(), out);
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * pcm_bytes()));
}

// libFLAC alone over the whole stream in one pass, with a write callback that only touches
// the samples: the floor that any use of the decoder starts from.
struct Bare {
    const std::string* data = nullptr;
    std::size_t offset = 0;
    std::int64_t sum = 0;
};

FLAC__StreamDecoderReadStatus bare_read(const FLAC__StreamDecoder*, FLAC__byte buffer[],
                                        std::size_t* bytes, void* c) {
    auto& b = *static_cast<Bare*>(c);
    const std::size_t n = std::min(*bytes, b.data->size() - b.offset);
    if (n == 0) {
        *bytes = 0;
        return FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
    }
    std::memcpy(buffer, b.data->data() + b.offset, n);
    b.offset += n;
    *bytes = n;
    return FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
}

FLAC__StreamDecoderWriteStatus bare_write(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                          const FLAC__int32* const channels[], void* c) {
    auto& b = *static_cast<Bare*>(c);
    b.sum += channels[0][frame->header.blocksize - 1] + channels[1][0];
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void bare_error(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void*) {}

void bare_libflac(benchmark::State& state) {
    std::string whole = stream().header;
    for (const auto& frame : stream().frames)
        whole += frame;
    FLAC__StreamDecoder* decoder = FLAC__stream_decoder_new();
    Bare bare;
    bare.data = &whole;
    FLAC__stream_decoder_init_stream(decoder, bare_read, nullptr, nullptr, nullptr, nullptr,
                                     bare_write, nullptr, bare_error, &bare);
    for (auto _ : state) {
        bare.offset = 0;
        FLAC__stream_decoder_reset(decoder);
        FLAC__stream_decoder_process_until_end_of_stream(decoder);
        benchmark::DoNotOptimize(bare.sum);
    }
    FLAC__stream_decoder_delete(decoder);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * pcm_bytes()));
}

BENCHMARK(ours)->Unit(benchmark::kMillisecond);
BENCHMARK(bare_libflac)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

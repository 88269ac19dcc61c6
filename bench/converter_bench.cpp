// SampleConverter::convert for the conversions the sinks use, in 20 ms chunks as the player
// writes them, each next to memcpy of the same output size in the same run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "format.h"

namespace {

using ondelle::ByteVector;
using ondelle::Format;
using ondelle::SampleFormat;

Format pcm(int bits) {
    Format f;
    f.rate = 192000;
    f.bits = bits;
    return f;
}

Format dsd(const char* layout) {
    Format f;
    f.kind = "dsd";
    f.rate = 2822400;
    f.layout = layout;
    return f;
}

// 20 ms of frames; DSD counts bytes per channel (rate / 8 per second).
std::uint64_t chunk_frames(const Format& f) {
    return static_cast<std::uint64_t>(f.frames_per_second() / 50);
}

void convert(benchmark::State& state, Format format, SampleFormat target, std::uint64_t frames) {
    std::vector<std::uint8_t> input(frames * format.frame_bytes());
    for (std::size_t i = 0; i < input.size(); ++i)
        input[i] = static_cast<std::uint8_t>(i * 31 + 7);
    ondelle::SampleConverter converter;
    converter.reset(format, target);
    ByteVector out;
    out.reserve(input.size() * 4);
    std::size_t bytes = 0;
    for (auto _ : state) {
        out.clear();
        converter.convert(input.data(), frames, out);
        bytes += out.size();
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

void copy(benchmark::State& state, std::size_t size) {
    std::vector<std::uint8_t> input(size, 1);
    std::vector<std::uint8_t> out(size);
    for (auto _ : state) {
        std::memcpy(out.data(), input.data(), size);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

void add(const char* name, Format format, SampleFormat target, std::uint64_t frames) {
    const std::uint64_t device_bytes_per_frame =
        static_cast<std::uint64_t>(format.channels * ondelle::sample_bytes(target));
    const std::uint64_t device_frames =
        format.is_dsd() ? frames / ondelle::dsd_bytes(target) : frames;
    benchmark::RegisterBenchmark((std::string("convert/") + name).c_str(), convert, format, target,
                                 frames);
    benchmark::RegisterBenchmark((std::string("memcpy/") + name).c_str(), copy,
                                 device_frames * device_bytes_per_frame);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace ondelle;
    add("pcm16_to_S16_LE", pcm(16), S16_LE, chunk_frames(pcm(16)));
    add("pcm16_to_S32_LE", pcm(16), S32_LE, chunk_frames(pcm(16)));
    add("pcm24_to_S24_3LE", pcm(24), S24_3LE, chunk_frames(pcm(24)));
    add("pcm24_to_S32_LE", pcm(24), S32_LE, chunk_frames(pcm(24)));
    add("pcm32_to_S32_LE", pcm(32), S32_LE, chunk_frames(pcm(32)));
    add("dsd_u8_to_DoP_S24_3LE", dsd("u8"), DoP_S24_3LE, chunk_frames(dsd("u8")));
    add("dsd_u8_to_DoP_S32_LE", dsd("u8"), DoP_S32_LE, chunk_frames(dsd("u8")));
    add("dsd_u8_to_DSD_U32_LE", dsd("u8"), DSD_U32_LE, chunk_frames(dsd("u8")));
    add("dsd_u32be_to_DSD_U32_BE_direct", dsd("u32be"), DSD_U32_BE, chunk_frames(dsd("u32be")));
    // Two bytes short of a whole group, so every call goes through pending.
    add("dsd_u32be_to_DSD_U32_BE_pending", dsd("u32be"), DSD_U32_BE,
        chunk_frames(dsd("u32be")) - 2);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

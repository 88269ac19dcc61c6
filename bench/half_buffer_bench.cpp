// The buffer switch's work for one half buffer: ring frames into the driver's two channel
// buffers in its sample type. "per_sample" is how it was done before (a copy into a scratch
// buffer, then a call with a switch, or a branch, for every sample); "straight" is
// fill_pcm_half / fill_dsd_half. Frames a second; a 768 kHz stream needs 768000.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "driver_samples.h"
#include "half_buffer.h"
#include "iasio.h"

namespace {

using namespace ondelle;
using namespace ondelle::direct;

constexpr std::int32_t frames = 4096;

struct Buffers {
    std::vector<std::uint8_t> ring = std::vector<std::uint8_t>(std::size_t(frames) * 8 * 4);
    std::vector<std::uint8_t> left = std::vector<std::uint8_t>(std::size_t(frames) * 8);
    std::vector<std::uint8_t> right = std::vector<std::uint8_t>(std::size_t(frames) * 8);
    std::vector<std::uint8_t> scratch = std::vector<std::uint8_t>(std::size_t(frames) * 8);
    Buffers() {
        for (std::size_t i = 0; i < ring.size(); ++i)
            ring[i] = std::uint8_t(i * 37 + 11);
    }
};

// A half buffer from the end of the ring round to its start, as most are not.
RingFrames from(const Buffers& b, std::size_t frame_bytes) {
    const std::size_t before_end = frame_bytes * frames / 2;
    return {{b.ring.data() + b.ring.size() - before_end, before_end},
            {b.ring.data(), frame_bytes * frames - before_end}};
}

// The ring's runs copied out in one piece, as a loop per sample would read them.
void copy_out(const RingFrames& f, std::uint8_t* out) {
    std::memcpy(out, f.first.data(), f.first.size());
    std::memcpy(out + f.first.size(), f.second.data(), f.second.size());
}

void pcm_per_sample(benchmark::State& state) {
    Buffers b;
    const auto type = std::int32_t(state.range(0));
    const double gain = state.range(1) ? 0.5 : 1.0;
    const int bytes = sample_stride(type);
    std::uint32_t dither = 12345;
    for (auto _ : state) {
        copy_out(from(b, 8), b.scratch.data());
        for (std::int32_t i = 0; i < frames; ++i) {
            std::int32_t l, r;
            std::memcpy(&l, &b.scratch[std::size_t(i) * 8], 4);
            std::memcpy(&r, &b.scratch[std::size_t(i) * 8 + 4], 4);
            if (gain != 1.0) {
                l = requantise(l, gain, type, dither);
                r = requantise(r, gain, type, dither);
            }
            store_sample(l, type, b.left.data() + std::size_t(i) * bytes);
            store_sample(r, type, b.right.data() + std::size_t(i) * bytes);
        }
        benchmark::DoNotOptimize(b.left.data());
        benchmark::DoNotOptimize(b.right.data());
    }
    state.SetItemsProcessed(state.iterations() * frames);
}

void pcm_straight(benchmark::State& state) {
    Buffers b;
    const auto type = std::int32_t(state.range(0));
    const double gain = state.range(1) ? 0.5 : 1.0;
    std::uint32_t dither = 12345;
    for (auto _ : state) {
        fill_pcm_half(from(b, 8), frames, type, gain, dither, b.left.data(), b.right.data());
        benchmark::DoNotOptimize(b.left.data());
        benchmark::DoNotOptimize(b.right.data());
    }
    state.SetItemsProcessed(state.iterations() * frames);
}

void dsd_per_sample(benchmark::State& state) {
    Buffers b;
    for (auto _ : state) {
        copy_out(from(b, 2), b.scratch.data());
        const bool reverse = state.range(0) != 0;
        const std::uint64_t n = frames;
        for (std::int32_t i = 0; i < frames; ++i) {
            std::uint8_t l = dsd_silence, r = dsd_silence;
            if (std::uint64_t(i) < n) {
                l = b.scratch[std::size_t(i) * 2];
                r = b.scratch[std::size_t(i) * 2 + 1];
            }
            b.left[std::size_t(i)] = reverse ? bit_reverse[l] : l;
            b.right[std::size_t(i)] = reverse ? bit_reverse[r] : r;
        }
        benchmark::DoNotOptimize(b.left.data());
    }
    state.SetItemsProcessed(state.iterations() * frames);
}

void dsd_straight(benchmark::State& state) {
    Buffers b;
    for (auto _ : state) {
        fill_dsd_half(from(b, 2), frames, state.range(0) != 0, b.left.data(), b.right.data());
        benchmark::DoNotOptimize(b.left.data());
    }
    state.SetItemsProcessed(state.iterations() * frames);
}

// Sample types: 18 Int32, 16 Int16, 17 Int24, 19 Float32, 27 Int32 in 24; the second argument
// 1 is the software volume's dithered path.
void types(benchmark::internal::Benchmark* b) {
    b->ArgNames({"type", "gain"});
    for (const int type : {18, 16, 17, 19, 27})
        b->Args({type, 0});
    b->Args({18, 1});
}

BENCHMARK(pcm_per_sample)->Apply(types);
BENCHMARK(pcm_straight)->Apply(types);
BENCHMARK(dsd_per_sample)->Arg(0)->Arg(1)->ArgName("lsb_first");
BENCHMARK(dsd_straight)->Arg(0)->Arg(1)->ArgName("lsb_first");

}  // namespace

BENCHMARK_MAIN();

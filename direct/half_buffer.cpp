// The buffer switch's loops: a store per sample type, inlined into its own loop over the ring.
#include "half_buffer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <utility>

#include "driver_samples.h"
#include "sample_types.h"

namespace ondelle::direct {
namespace {

// Calls each(frame index, pointer to the frame in the ring) for the frames there are, at most
// frames, run by run; returns how many.
template <std::size_t frame_bytes, class Each>
std::int32_t for_ring_frames(const RingFrames& from, std::int32_t frames, Each each) {
    const std::span<const std::uint8_t> runs[2] = {from.first, from.second};
    std::int32_t done = 0;
    for (const std::span<const std::uint8_t>& run : runs) {
        const auto count = std::int32_t(
            std::min<std::size_t>(run.size() / frame_bytes, std::size_t(frames - done)));
        const std::uint8_t* p = run.data();
        for (std::int32_t k = 0; k < count; ++k, p += frame_bytes)
            each(done + k, p);
        done += count;
    }
    return done;
}

template <int Bytes, bool Dithered, class Put>
void pcm_loop(const RingFrames& from, std::int32_t frames, std::int32_t type, double gain,
              std::uint32_t& dither, std::uint8_t* left, std::uint8_t* right, Put put) {
    const Requantiser requantise(gain, type);
    std::uint32_t state = dither;
    const std::int32_t n =
        for_ring_frames<8>(from, frames, [&](std::int32_t i, const std::uint8_t* p) {
            std::int32_t l, r;
            std::memcpy(&l, p, 4);
            std::memcpy(&r, p + 4, 4);
            if constexpr (Dithered) {
                l = requantise(l, state);
                r = requantise(r, state);
            }
            put(l, left + std::size_t(i) * Bytes);
            put(r, right + std::size_t(i) * Bytes);
        });
    dither = state;
    if (n < frames) {
        std::memset(left + std::size_t(n) * Bytes, 0, std::size_t(frames - n) * Bytes);
        std::memset(right + std::size_t(n) * Bytes, 0, std::size_t(frames - n) * Bytes);
    }
}

template <int Bytes, class Put>
void pcm_half(const RingFrames& from, std::int32_t frames, std::int32_t type, double gain,
              std::uint32_t& dither, std::uint8_t* left, std::uint8_t* right, Put put) {
    if (gain == 1.0)
        pcm_loop<Bytes, false>(from, frames, type, gain, dither, left, right, put);
    else
        pcm_loop<Bytes, true>(from, frames, type, gain, dither, left, right, put);
}

// Stores a left-justified 32-bit sample as the table's entry I says, with everything known at
// compile time so that the loop for each type is a plain one.
template <std::size_t I>
struct PutSample {
    static constexpr SampleType type = sample_types[I];
    void operator()(std::int32_t s, std::uint8_t* out) const {
        if constexpr (type.kind == SampleKind::floating && type.stride == 8) {
            const double value = double(s) * 0x1p-31;
            std::memcpy(out, &value, 8);
        } else if constexpr (type.kind == SampleKind::floating) {
            const auto value = float(double(s) * 0x1p-31);
            std::memcpy(out, &value, 4);
        } else if constexpr (type.stride == 4) {
            const std::int32_t value = s >> type.shift;
            std::memcpy(out, &value, 4);
        } else if constexpr (type.stride == 2) {
            const auto value = std::uint16_t(std::uint32_t(s) >> type.shift);
            std::memcpy(out, &value, 2);
        } else {
            const auto u = std::uint32_t(s);
            for (int k = 0; k < type.stride; ++k)
                out[k] = std::uint8_t(u >> (type.shift + 8 * k));
        }
    }
};

// The loop for entry I of the table when its id is type; false otherwise. A function of its
// own for each entry, so that each loop is compiled as if it were the only one.
template <std::size_t I>
bool fill_if_entry(const RingFrames& from, std::int32_t frames, std::int32_t type, double gain,
                   std::uint32_t& dither, std::uint8_t* left, std::uint8_t* right) {
    constexpr SampleType entry = sample_types[I];
    if constexpr (entry.kind == SampleKind::dsd) {
        return false;
    } else {
        if (entry.id != type) return false;
        pcm_half<entry.stride>(from, frames, type, gain, dither, left, right, PutSample<I>{});
        return true;
    }
}

template <std::size_t... I>
bool fill_by_table(std::index_sequence<I...>, const RingFrames& from, std::int32_t frames,
                   std::int32_t type, double gain, std::uint32_t& dither, std::uint8_t* left,
                   std::uint8_t* right) {
    return (fill_if_entry<I>(from, frames, type, gain, dither, left, right) || ...);
}

// Where a size is needed for a type this does not play, 32-bit integers are taken.
constexpr std::size_t int32_entry = [] {
    for (std::size_t i = 0; i < sample_types.size(); ++i)
        if (sample_types[i].id == asio::ASIOSTInt32LSB) return i;
    return sample_types.size();
}();

}  // namespace

void fill_pcm_half(const RingFrames& from, std::int32_t frames, std::int32_t type, double gain,
                   std::uint32_t& dither, std::uint8_t* left, std::uint8_t* right) {
    if (!fill_by_table(std::make_index_sequence<sample_types.size()>{}, from, frames, type, gain,
                       dither, left, right))
        // Not a type this plays: never opened so, but the driver's buffers are still written
        // as the 32-bit integers a size was taken for.
        pcm_half<4>(from, frames, type, gain, dither, left, right, PutSample<int32_entry>{});
}

void fill_dsd_half(const RingFrames& from, std::int32_t frames, bool reverse, std::uint8_t* left,
                   std::uint8_t* right) {
    static constexpr std::array<std::uint8_t, 256> same = [] {
        std::array<std::uint8_t, 256> table{};
        for (int b = 0; b < 256; ++b)
            table[std::size_t(b)] = std::uint8_t(b);
        return table;
    }();
    const std::uint8_t* const map = reverse ? bit_reverse.data() : same.data();
    const std::int32_t n =
        for_ring_frames<2>(from, frames, [&](std::int32_t i, const std::uint8_t* p) {
            left[i] = map[p[0]];
            right[i] = map[p[1]];
        });
    std::memset(left + n, map[dsd_silence], std::size_t(frames - n));
    std::memset(right + n, map[dsd_silence], std::size_t(frames - n));
}

}  // namespace ondelle::direct

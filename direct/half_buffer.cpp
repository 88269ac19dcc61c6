// The buffer switch's loops: a store per sample type, inlined into its own loop over the ring.
#include "half_buffer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "iasio.h"
#include "sample_store.h"

namespace ondelle::direct {
namespace {

using namespace asio;

// Calls each(frame index, pointer to the frame in the ring) for the frames there are, in at
// most two runs (before and after the ring's end); returns how many.
template <class Each>
std::int32_t for_ring_frames(const RingFrames& from, std::size_t frame_bytes, std::int32_t frames,
                             Each each) {
    const std::int32_t n =
        std::int32_t(std::min<std::uint64_t>(from.available, std::uint64_t(frames)));
    std::size_t at = from.at;
    std::int32_t done = 0;
    while (done < n) {
        const std::int32_t run =
            std::min<std::int32_t>(n - done, std::int32_t((from.size - at) / frame_bytes));
        const std::uint8_t* p = from.ring + at;
        for (std::int32_t k = 0; k < run; ++k, p += frame_bytes)
            each(done + k, p);
        done += run;
        at = (at + std::size_t(run) * frame_bytes) % from.size;
    }
    return n;
}

template <int Bytes, bool Dithered, class Put>
void pcm_loop(const RingFrames& from, std::int32_t frames, std::int32_t type, double gain,
              std::uint32_t& dither, std::uint8_t* left, std::uint8_t* right, Put put) {
    const Requantiser requantise(gain, type);
    std::uint32_t state = dither;
    const std::int32_t n =
        for_ring_frames(from, 8, frames, [&](std::int32_t i, const std::uint8_t* p) {
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

// Stores a 32-bit sample shifted right, for the types that keep fewer bits in 32.
template <int Shift>
struct PutShifted {
    void operator()(std::int32_t s, std::uint8_t* out) const {
        const std::int32_t value = s >> Shift;
        std::memcpy(out, &value, 4);
    }
};

}  // namespace

void fill_pcm_half(const RingFrames& from, std::int32_t frames, std::int32_t type, double gain,
                   std::uint32_t& dither, std::uint8_t* left, std::uint8_t* right) {
    switch (type) {
        case ASIOSTInt16LSB:
            return pcm_half<2>(from, frames, type, gain, dither, left, right,
                               [](std::int32_t s, std::uint8_t* out) {
                                   const auto value = std::uint16_t(std::uint32_t(s) >> 16);
                                   std::memcpy(out, &value, 2);
                               });
        case ASIOSTInt24LSB:
            return pcm_half<3>(from, frames, type, gain, dither, left, right,
                               [](std::int32_t s, std::uint8_t* out) {
                                   const auto u = std::uint32_t(s);
                                   out[0] = std::uint8_t(u >> 8);
                                   out[1] = std::uint8_t(u >> 16);
                                   out[2] = std::uint8_t(u >> 24);
                               });
        case ASIOSTFloat32LSB:
            return pcm_half<4>(from, frames, type, gain, dither, left, right,
                               [](std::int32_t s, std::uint8_t* out) {
                                   const auto value = float(double(s) * 0x1p-31);
                                   std::memcpy(out, &value, 4);
                               });
        case ASIOSTFloat64LSB:
            return pcm_half<8>(from, frames, type, gain, dither, left, right,
                               [](std::int32_t s, std::uint8_t* out) {
                                   const double value = double(s) * 0x1p-31;
                                   std::memcpy(out, &value, 8);
                               });
        case ASIOSTInt32LSB16:
            return pcm_half<4>(from, frames, type, gain, dither, left, right, PutShifted<16>{});
        case ASIOSTInt32LSB18:
            return pcm_half<4>(from, frames, type, gain, dither, left, right, PutShifted<14>{});
        case ASIOSTInt32LSB20:
            return pcm_half<4>(from, frames, type, gain, dither, left, right, PutShifted<12>{});
        case ASIOSTInt32LSB24:
            return pcm_half<4>(from, frames, type, gain, dither, left, right, PutShifted<8>{});
        default:
            return pcm_half<4>(from, frames, type, gain, dither, left, right, PutShifted<0>{});
    }
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
        for_ring_frames(from, 2, frames, [&](std::int32_t i, const std::uint8_t* p) {
            left[i] = map[p[0]];
            right[i] = map[p[1]];
        });
    std::memset(left + n, map[dsd_silence], std::size_t(frames - n));
    std::memset(right + n, map[dsd_silence], std::size_t(frames - n));
}

}  // namespace ondelle::direct

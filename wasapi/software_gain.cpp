// The software volume: a gain with dither over each device period, in place.
#include "software_gain.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "format.h"

namespace ondelle::wasapi {
namespace {

std::uint32_t next_random(std::uint32_t x) {
    return 1664525u * x + 1013904223u;
}

std::int32_t read_sample(const std::uint8_t* p, int width) {
    if (width == 2) return std::int16_t(std::uint16_t(p[0] | p[1] << 8));
    if (width == 3) {
        const std::uint32_t u =
            std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16;
        return std::int32_t(u << 8) >> 8;
    }
    std::uint32_t u;
    std::memcpy(&u, p, 4);
    return std::int32_t(u);
}

void write_sample(std::uint8_t* p, int width, std::uint32_t value) {
    for (int i = 0; i < width; ++i)
        p[i] = std::uint8_t(value >> (8 * i));
}

}  // namespace

void apply_software_gain(std::uint8_t* data, std::size_t bytes, std::int32_t sample_type,
                         std::int32_t valid_bits, double gain, std::uint32_t& dither_state) {
    if (gain >= 1) return;
    if (gain <= 0) {
        std::memset(data, 0, bytes);
        return;
    }
    const int width = sample_type == S16_LE ? 2 : sample_type == S24_3LE ? 3 : 4;
    const int shift = width == 4 ? 32 - valid_bits : 0;
    const double full_scale = std::ldexp(1.0, valid_bits - 1);
    const double step = 1.0 / 16777216.0;
    std::uint32_t x = dither_state;
    for (std::size_t at = 0; at + width <= bytes; at += width) {
        const std::int32_t sample = read_sample(data + at, width) >> shift;
        const std::uint32_t x1 = next_random(x);
        const std::uint32_t x2 = next_random(x1);
        x = x2;
        const double dither = (x1 >> 8) * step - (x2 >> 8) * step;
        const double scaled = std::nearbyint(sample * gain + dither);
        const double clamped = std::clamp(scaled, -full_scale, full_scale - 1);
        write_sample(data + at, width, std::uint32_t(std::int64_t(clamped)) << shift);
    }
    dither_state = x;
}

}  // namespace ondelle::wasapi

// How ring samples become the driver's samples: the DSD idle pattern and bit order, and the
// requantisation and store of PCM under a software gain.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>

#include "sample_types.h"

namespace ondelle::direct {

// The DSD idle pattern, earliest bit first.
inline constexpr std::uint8_t dsd_silence = 0x69;

// Entry b is b with its eight bits in reverse order (0x01 gives 0x80, 0x69 gives 0x96).
inline constexpr std::array<std::uint8_t, 256> bit_reverse = [] {
    std::array<std::uint8_t, 256> table{};
    for (int b = 0; b < 256; ++b) {
        int reversed = 0;
        for (int bit = 0; bit < 8; ++bit)
            if (b & (1 << bit)) reversed |= 0x80 >> bit;
        table[std::size_t(b)] = std::uint8_t(reversed);
    }
    return table;
}();

// The minimal standard generator: 48271 × x mod (2^31 − 1).
inline std::uint32_t next_random(std::uint32_t x) {
    return std::uint32_t(std::uint64_t(48271) * x % 2147483647u);
}

// s × gain requantised to valid_bits(type) with triangular dither, left-justified again.
// Draws two values from state.
std::int32_t requantise(std::int32_t s, double gain, std::int32_t type, std::uint32_t& state);

// The same, with what depends only on the gain and the type worked out once, for a loop over
// many samples.
class Requantiser {
  public:
    Requantiser(double gain, std::int32_t type);
    std::int32_t operator()(std::int32_t s, std::uint32_t& state) const {
        const std::uint32_t x1 = next_random(state);
        const std::uint32_t x2 = next_random(x1);
        state = x2;
        const double dither = (double(x1 & 0xFFFF) - double(x2 & 0xFFFF)) / 65536.0;
        double v = std::nearbyint(double(s) * factor_ + dither);
        v = v < lo_ ? lo_ : v > hi_ ? hi_ : v;
        // The shift is done on the unsigned bits: v is in range, so nothing is lost.
        return std::int32_t(std::uint32_t(std::int64_t(v)) << shift_);
    }

  private:
    double factor_;  // gain over the scale of the valid bits
    double lo_;
    double hi_;
    int shift_;
};

// Stores the left-justified sample s at out in the driver's sample type.
void store_sample(std::int32_t s, std::int32_t type, std::uint8_t* out);

}  // namespace ondelle::direct

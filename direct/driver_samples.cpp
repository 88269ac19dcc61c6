// The driver's PCM samples, filled from 32-bit left-justified ring samples.
#include "driver_samples.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace ondelle::direct {

Requantiser::Requantiser(double gain, std::int32_t type)
    : factor_(gain / std::ldexp(1.0, 32 - valid_bits(type))),
      lo_(-std::ldexp(1.0, valid_bits(type) - 1)),
      hi_(std::ldexp(1.0, valid_bits(type) - 1) - 1),
      shift_(32 - valid_bits(type)) {}

std::int32_t requantise(std::int32_t s, double gain, std::int32_t type, std::uint32_t& state) {
    return Requantiser(gain, type)(s, state);
}

void store_sample(std::int32_t s, std::int32_t type, std::uint8_t* out) {
    const SampleType& t = sample_type_of(type);
    const auto u = std::uint32_t(s);
    if (t.kind == SampleKind::floating) {
        const double value = double(s) * std::ldexp(1.0, -31);
        if (t.stride == 8) {
            std::memcpy(out, &value, 8);
        } else {
            const auto single = float(value);
            std::memcpy(out, &single, 4);
        }
        return;
    }
    if (t.stride == 4) {
        const std::int32_t value = s >> t.shift;
        std::memcpy(out, &value, 4);
        return;
    }
    // 16 and packed 24 bits: the top bytes, low byte first.
    for (int k = 0; k < t.stride; ++k)
        out[k] = std::uint8_t(u >> (t.shift + 8 * k));
}

}  // namespace ondelle::direct

// The driver's PCM sample types, filled from 32-bit left-justified ring samples.
#include "sample_store.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "iasio.h"

namespace ondelle::direct {

using namespace asio;

bool sample_type_plays(std::int32_t type, bool dsd) {
    if (dsd) return type == ASIOSTDSDInt8LSB1 || type == ASIOSTDSDInt8MSB1;
    switch (type) {
        case ASIOSTInt16LSB:
        case ASIOSTInt24LSB:
        case ASIOSTInt32LSB:
        case ASIOSTFloat32LSB:
        case ASIOSTFloat64LSB:
        case ASIOSTInt32LSB16:
        case ASIOSTInt32LSB18:
        case ASIOSTInt32LSB20:
        case ASIOSTInt32LSB24:
            return true;
        default:
            return false;
    }
}

int silence_sample_bytes(std::int32_t type) {
    switch (type) {
        case ASIOSTInt16LSB:
            return 2;
        case ASIOSTInt24LSB:
            return 3;
        case ASIOSTFloat64LSB:
            return 8;
        default:
            return 4;
    }
}

int valid_bits(std::int32_t type) {
    switch (type) {
        case ASIOSTInt24LSB:
        case ASIOSTFloat32LSB:
        case ASIOSTInt32LSB24:
            return 24;
        case ASIOSTInt32LSB:
        case ASIOSTFloat64LSB:
            return 32;
        case ASIOSTInt32LSB18:
            return 18;
        case ASIOSTInt32LSB20:
            return 20;
        default:
            return 16;
    }
}

Requantiser::Requantiser(double gain, std::int32_t type)
    : factor_(gain / std::ldexp(1.0, 32 - valid_bits(type))),
      lo_(-std::ldexp(1.0, valid_bits(type) - 1)),
      hi_(std::ldexp(1.0, valid_bits(type) - 1) - 1),
      shift_(32 - valid_bits(type)) {}

std::int32_t requantise(std::int32_t s, double gain, std::int32_t type, std::uint32_t& state) {
    return Requantiser(gain, type)(s, state);
}

void store_sample(std::int32_t s, std::int32_t type, std::uint8_t* out) {
    const auto u = std::uint32_t(s);
    switch (type) {
        case ASIOSTInt16LSB: {
            const auto value = std::uint16_t(u >> 16);
            std::memcpy(out, &value, 2);
            return;
        }
        case ASIOSTInt24LSB:
            out[0] = std::uint8_t(u >> 8);
            out[1] = std::uint8_t(u >> 16);
            out[2] = std::uint8_t(u >> 24);
            return;
        case ASIOSTFloat32LSB: {
            const auto value = float(double(s) * std::ldexp(1.0, -31));
            std::memcpy(out, &value, 4);
            return;
        }
        case ASIOSTFloat64LSB: {
            const double value = double(s) * std::ldexp(1.0, -31);
            std::memcpy(out, &value, 8);
            return;
        }
        case ASIOSTInt32LSB16:
        case ASIOSTInt32LSB18:
        case ASIOSTInt32LSB20:
        case ASIOSTInt32LSB24: {
            const int shift = type == ASIOSTInt32LSB16   ? 16
                              : type == ASIOSTInt32LSB18 ? 14
                              : type == ASIOSTInt32LSB20 ? 12
                                                         : 8;
            const std::int32_t value = s >> shift;
            std::memcpy(out, &value, 4);
            return;
        }
        default:
            std::memcpy(out, &u, 4);
            return;
    }
}

}  // namespace ondelle::direct

// The volume applied to PCM when Windows' volume cannot reach the device: a linear gain with
// triangular dither of up to one step of the valid bits.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ondelle::wasapi {

// Scales the samples of data in place: 2-byte samples for S16_LE, 3-byte for S24_3LE, else
// 4-byte containers whose top valid_bits carry the sample. gain ≥ 1 leaves the bytes alone;
// gain ≤ 0 silences them. dither_state carries the noise generator from call to call.
void apply_software_gain(std::uint8_t* data, std::size_t bytes, std::int32_t sample_type,
                         std::int32_t valid_bits, double gain, std::uint32_t& dither_state);

}  // namespace ondelle::wasapi

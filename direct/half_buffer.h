// One half buffer handed to the driver: frames taken straight from the ring (32-bit
// left-justified stereo PCM, or one DSD byte per channel) into the driver's two channel
// buffers in its sample type, silence where the ring runs short. One plain loop per sample
// type, chosen once a half buffer, so that the driver's callback does as little as it can.
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/byte_ring.h"

namespace ondelle::direct {

// Where the frames come from: whole frames in the ring, in at most two runs.
using RingFrames = RingRuns<const std::uint8_t>;

// frames PCM frames into left and right; with gain other than 1, requantised with the
// triangular dither drawn from dither.
void fill_pcm_half(const RingFrames& from, std::int32_t frames, std::int32_t type, double gain,
                   std::uint32_t& dither, std::uint8_t* left, std::uint8_t* right);

// frames DSD bytes a channel into left and right, each bit-reversed when the driver wants the
// earliest sample in the lowest bit.
void fill_dsd_half(const RingFrames& from, std::int32_t frames, bool reverse, std::uint8_t* left,
                   std::uint8_t* right);

}  // namespace ondelle::direct

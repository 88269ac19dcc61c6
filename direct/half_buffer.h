// One half buffer handed to the driver: frames taken straight from the ring (32-bit
// left-justified stereo PCM, or one DSD byte per channel) into the driver's two channel
// buffers in its sample type, silence where the ring runs short. One plain loop per sample
// type, chosen once a half buffer, so that the driver's callback does as little as it can.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ondelle::direct {

// Where the frames come from: available frames at byte offset at of a ring of size bytes,
// wrapping at its end.
struct RingFrames {
    const std::uint8_t* ring;
    std::size_t size;
    std::size_t at;
    std::uint64_t available;
};

// frames PCM frames into left and right; with gain other than 1, requantised with the
// triangular dither drawn from dither.
void fill_pcm_half(const RingFrames& from, std::int32_t frames, std::int32_t type, double gain,
                   std::uint32_t& dither, std::uint8_t* left, std::uint8_t* right);

// frames DSD bytes a channel into left and right, each bit-reversed when the driver wants the
// earliest sample in the lowest bit.
void fill_dsd_half(const RingFrames& from, std::int32_t frames, bool reverse, std::uint8_t* left,
                   std::uint8_t* right);

}  // namespace ondelle::direct

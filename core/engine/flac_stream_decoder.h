// FLAC-coded PCM from a sender, decoded message by message: each audio message holds the
// stream header or whole FLAC frames, never a frame split across two messages.
#pragma once

#include <cstdint>
#include <memory>

#include "support/bytes.h"

namespace ondelle {

class FlacStreamDecoder {
  public:
    FlacStreamDecoder();
    ~FlacStreamDecoder();
    FlacStreamDecoder(const FlacStreamDecoder&) = delete;
    FlacStreamDecoder& operator=(const FlacStreamDecoder&) = delete;

    // A fresh decoder for a stereo stream of bits (16, 24 or 32); clears a failure.
    bool init(int bits);

    // Replaces output with the PCM of exactly this message (wire PCM: stereo, bits / 8 bytes
    // per sample, little-endian). False on any decoding error, and ever after until init.
    bool decode(const std::uint8_t* data, std::size_t size, ByteVector& output);

    struct State;

  private:
    bool decode_message(const std::uint8_t* data, std::size_t size, ByteVector& output);

    std::unique_ptr<State> state_;
};

}  // namespace ondelle

// What Endpoint::open_local hands back for a local-file stream: a source of wire frames in
// the stream's format. The sender session owns it.
#pragma once

#include <cstdint>

namespace ondelle {

class LocalDecoder {
  public:
    virtual ~LocalDecoder() = default;
    // Writes up to frames wire frames into destination; returns how many it wrote.
    virtual std::uint64_t read(std::uint8_t* destination, std::uint64_t frames) = 0;
};

}  // namespace ondelle

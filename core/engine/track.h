// The description of a track that a sender's "start" and "meta" messages carry.
#pragma once

#include <cstdint>
#include <string>

#include "json.h"

namespace ondelle {

struct Track {
    std::string title;
    std::string artist;
    std::string album;
    std::string art;  // an identifier of the artwork, not the image
    std::int64_t duration_ms = 0;
    std::string codec;  // of the source file
    std::int32_t rate = 0;
    std::int32_t bits = 0;
    std::int64_t position_ms = 0;
    std::string why;
    std::string path;
    std::int64_t size = 0;
    std::int64_t mtime = 0;
};

// Absent members, and a missing object, read as the defaults.
Track parse_track(const Json& object);

}  // namespace ondelle

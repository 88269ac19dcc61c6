// Track metadata read from a "track" object.
#include "engine/track.h"

namespace ondelle {

Track parse_track(const Json& object) {
    Track track;
    track.title = object.get("title").as_string("");
    track.artist = object.get("artist").as_string("");
    track.album = object.get("album").as_string("");
    track.art = object.get("art").as_string("");
    track.duration_ms = object.get("duration_ms").as_int(0);
    const Json& format = object.get("format");
    track.codec = format.get("codec").as_string("");
    track.rate = static_cast<std::int32_t>(format.get("rate").as_int(0));
    track.bits = static_cast<std::int32_t>(format.get("bits").as_int(0));
    const std::int64_t position = object.get("position_ms").as_int(0);
    track.position_ms = position < 1 ? 0 : position;
    track.why = object.get("why").as_string("");
    const Json& file = object.get("file");
    track.path = file.get("path").as_string("");
    track.size = file.get("size").as_int(0);
    track.mtime = file.get("mtime").as_int(0);
    return track;
}

}  // namespace ondelle

// Plain PCM and DSD only: every payload already is wire frames.
#include "engine/stream_decoding.h"

#include "engine/player_queue.h"

namespace ondelle {

struct StreamDecoding::State {};

StreamDecoding::StreamDecoding(Endpoint&, Conn&) {}
StreamDecoding::~StreamDecoding() = default;

StreamDecoding::Start StreamDecoding::start(std::unique_lock<std::mutex>&, const QueueEntry& entry,
                                            bool playable) {
    return playable && entry.format.codec == "pcm" ? Start::accepted : Start::refused;
}

StreamDecoding::Payload StreamDecoding::decode(Message&) {
    return Payload::frames;
}

}  // namespace ondelle

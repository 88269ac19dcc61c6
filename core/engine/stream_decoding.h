// How one sender's stream payloads become wire frames. The full build decodes FLAC and reads
// local files; the reduced build takes plain PCM and DSD only. CMake compiles one of
// stream_decoding_full.cpp and stream_decoding_reduced.cpp.
#pragma once

#include <memory>
#include <mutex>

#include "conn.h"

namespace ondelle {

class Endpoint;
struct QueueEntry;

class StreamDecoding {
  public:
    StreamDecoding(Endpoint& endpoint, Conn& conn);
    ~StreamDecoding();
    StreamDecoding(const StreamDecoding&) = delete;
    StreamDecoding& operator=(const StreamDecoding&) = delete;

    enum class Start {
        accepted,  // queue the stream; its audio goes through decode
        refused,   // the caller answers with the "format" error
        answered,  // refused and already answered; the lock has been released
        displaced  // the connection stopped being the sender while the lock was released
    };

    // Decides whether a stream start can be taken, given whether the settings allow its
    // format (playable). Entered with the player lock held; it may be released in between.
    Start start(std::unique_lock<std::mutex>& lock, const QueueEntry& entry, bool playable);

    enum class Payload {
        frames,   // the message now holds wire frames to queue
        nothing,  // nothing to queue for this message
        drop      // the sender must be dropped (the reason is logged)
    };

    // Turns the payload of an audio message into wire frames, in place, without the lock.
    Payload decode(Message& message);

    struct State;

  private:
    std::unique_ptr<State> state_;
};

}  // namespace ondelle

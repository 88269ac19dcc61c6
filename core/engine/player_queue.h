// What the sender session queues for the player: stream starts, audio and stream ends, in a
// ring that also keeps a running estimate of the memory it holds.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "engine/track.h"
#include "format.h"
#include "support/bytes.h"

namespace ondelle {

struct QueueEntry {
    enum Type : std::int32_t { StreamStart = 0, Audio = 1, StreamEnd = 2 };

    Type type = StreamStart;
    std::int32_t stream = 0;
    Format format;  // StreamStart only
    Track track;    // StreamStart only
    bool processed = false;
    double gain_db = std::numeric_limits<double>::quiet_NaN();
    ByteVector data;  // Audio only: wire frames of the stream's format
};

class PlayerQueue {
  public:
    void push(QueueEntry entry);
    QueueEntry pop();  // the oldest; the queue must not be empty
    void clear();

    bool empty() const { return count_ == 0; }
    std::size_t size() const { return count_; }
    std::uint64_t queued_bytes() const { return queued_bytes_; }

    template <typename Visit>
    void for_each(Visit&& visit) const {
        for (std::size_t i = 0; i < count_; ++i)
            visit(ring_[(head_ + i) % ring_.size()]);
    }

  private:
    static std::uint64_t cost_of(const QueueEntry& entry);

    std::vector<QueueEntry> ring_;
    std::size_t head_ = 0;
    std::size_t count_ = 0;
    std::uint64_t queued_bytes_ = 0;
};

// Where a stream begins and ends on the output, in frames of the running count.
struct TrackMark {
    std::int32_t stream = 0;
    std::int64_t start = 0;
    std::int64_t end = -1;  // -1 until the stream's end has been taken
};

// A stream whose "ended" the sender is owed once the heard position has reached end.
struct OwedEnd {
    std::int32_t stream = 0;
    std::int64_t end = 0;
};

// How many owed ends the player keeps before it waits for the output to catch up: far more
// than any real sender has in flight, and still a small record.
inline constexpr std::size_t max_owed_ends = 4096;

}  // namespace ondelle

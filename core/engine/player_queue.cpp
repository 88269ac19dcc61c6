// The play queue: a ring that doubles when full and keeps its memory estimate.
#include "engine/player_queue.h"

#include <algorithm>

#include "engine/core_variant.h"

namespace ondelle {

std::uint64_t PlayerQueue::cost_of(const QueueEntry& e) {
    return queue_entry_cost + e.data.size() + e.track.title.size() + e.track.artist.size() +
           e.track.album.size() + e.track.art.size() + e.track.codec.size();
}

void PlayerQueue::push(QueueEntry entry) {
    if (count_ == ring_.size()) {
        std::vector<QueueEntry> grown(std::max<std::size_t>(ring_.size() * 2, 16));
        for (std::size_t i = 0; i < count_; ++i)
            grown[i] = std::move(ring_[(head_ + i) % ring_.size()]);
        ring_ = std::move(grown);
        head_ = 0;
    }
    queued_bytes_ += cost_of(entry);
    ring_[(head_ + count_) % ring_.size()] = std::move(entry);
    ++count_;
}

QueueEntry PlayerQueue::pop() {
    QueueEntry entry = std::move(ring_[head_]);
    head_ = (head_ + 1) % ring_.size();
    --count_;
    queued_bytes_ -= cost_of(entry);
    return entry;
}

void PlayerQueue::clear() {
    for (std::size_t i = 0; i < count_; ++i)
        ring_[(head_ + i) % ring_.size()] = QueueEntry();
    head_ = 0;
    count_ = 0;
    queued_bytes_ = 0;
}

}  // namespace ondelle

// A ring of bytes between one writer and one reader. Both positions count every byte ever
// written or read, so that what is queued is their difference and a full ring is never taken
// for an empty one; a position becomes an offset only where bytes are touched.
//
// Position is std::uint64_t for a ring used under a lock, or std::atomic<std::uint64_t> for a
// writer and a reader on two threads without one (a real-time reader that may not wait): then
// each side stores only its own position, and the bytes it copied are published by that store.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>

#include "support/bytes.h"

namespace ondelle {

// Bytes of a ring in at most two runs: up to its end, then from its start.
template <class Byte>
struct RingRuns {
    std::span<Byte> first;
    std::span<Byte> second;
    std::size_t size() const { return first.size() + second.size(); }
};

template <class Position>
class BasicByteRing {
  public:
    // Empty, of size bytes (zeroed). Allocates: only while neither side runs.
    void reset(std::size_t size) {
        bytes_.assign(size, 0);
        write_pos_ = std::uint64_t(0);
        read_pos_ = std::uint64_t(0);
    }

    std::size_t size() const { return bytes_.size(); }
    std::uint64_t write_position() const { return load(write_pos_); }
    std::uint64_t read_position() const { return load(read_pos_); }
    std::uint64_t queued() const { return load(write_pos_) - load(read_pos_); }
    std::uint64_t room() const { return size() - queued(); }

    // The writer's side: copies up to room() bytes of data in; returns how many.
    std::size_t write(const std::uint8_t* data, std::size_t bytes) {
        const std::uint64_t at = load(write_pos_);
        const RingRuns<std::uint8_t> runs = split(
            bytes_.data(), at, std::min<std::uint64_t>(bytes, size() - (at - load(read_pos_))));
        copy(runs.first.data(), data, runs.first.size());
        copy(runs.second.data(), data + runs.first.size(), runs.second.size());
        store(write_pos_, at + runs.size());
        return runs.size();
    }

    // The reader's side: the first bytes queued (at most that many), in place.
    RingRuns<const std::uint8_t> readable(std::uint64_t bytes) const {
        const std::uint64_t at = load(read_pos_);
        return split(bytes_.data(), at, std::min(bytes, load(write_pos_) - at));
    }
    // The reader's side: the first bytes readable() gave are done with; their room is free.
    void consume(std::uint64_t bytes) { store(read_pos_, load(read_pos_) + bytes); }

    // The reader's side: copies up to queued() bytes out; returns how many.
    std::size_t read(std::uint8_t* out, std::size_t bytes) {
        const RingRuns<const std::uint8_t> runs = readable(bytes);
        copy(out, runs.first.data(), runs.first.size());
        copy(out + runs.first.size(), runs.second.data(), runs.second.size());
        consume(runs.size());
        return runs.size();
    }

    // The reader's side (or either, while the other does not run): drops what is queued.
    void discard() { store(read_pos_, load(write_pos_)); }

  private:
    // An empty run has no bytes to point at: nothing is copied to or from it.
    static void copy(std::uint8_t* to, const std::uint8_t* from, std::size_t bytes) {
        if (bytes != 0) std::memcpy(to, from, bytes);
    }
    static std::uint64_t load(const Position& position) {
        if constexpr (std::is_same_v<Position, std::uint64_t>)
            return position;
        else
            return position.load(std::memory_order_acquire);
    }
    static void store(Position& position, std::uint64_t value) {
        if constexpr (std::is_same_v<Position, std::uint64_t>)
            position = value;
        else
            position.store(value, std::memory_order_release);
    }

    // The bytes from position at on, of the ring's bytes at data, split at the ring's end.
    template <class Byte>
    RingRuns<Byte> split(Byte* data, std::uint64_t at, std::uint64_t bytes) const {
        if (bytes == 0 || bytes_.empty()) return {};
        const std::size_t offset = std::size_t(at % bytes_.size());
        const std::size_t first = std::min<std::size_t>(std::size_t(bytes), bytes_.size() - offset);
        return {{data + offset, first}, {data, std::size_t(bytes) - first}};
    }

    ByteVector bytes_;
    Position write_pos_{0};
    Position read_pos_{0};
};

// Used under a lock.
using ByteRing = BasicByteRing<std::uint64_t>;
// One writer thread and one reader thread, no lock.
using SharedByteRing = BasicByteRing<std::atomic<std::uint64_t>>;

}  // namespace ondelle

// The one seam between the core and a local audio output. Each program supplies one; the
// core borrows it and never deletes it.
//
// Frames are wire frames of the open Format: one sample per channel for PCM, one byte per
// channel for DSD, whatever the device encoding is.
//
// The player thread makes every call but underruns(), always without the player lock except
// delay() in its idle check. delay() and underruns() are also called with the player lock
// held by the status thread and the program's volume thread, so they must answer at once
// without waiting on anything that a blocked write() may hold.
#pragma once

#include <cstdint>
#include <string>

#include "format.h"

namespace ondelle {

class Sink {
  public:
    virtual ~Sink() = default;

    // Prepares the output for format; on success it is empty, not paused, converter reset.
    // On failure, error gets a short reason (sent to the sender) and the sink stays closed.
    // Called only on a closed sink.
    virtual bool open(const Format& format, std::string& error) = 0;

    // Converts and queues frames, blocking while the sink's buffer is full. Returns frames
    // when all were taken (an incomplete DSD block kept back counts as taken), 0 when the
    // sink stopped while the caller waited. Called from one thread, in ~20 ms chunks.
    virtual std::uint64_t write(const std::uint8_t* data, std::uint64_t frames) = 0;

    // true holds the output with its audio kept; false resumes. Idempotent.
    virtual void pause(bool paused) = 0;

    // Drops every queued frame and resets the converter; stays open, keeps its paused flag.
    virtual void flush() = 0;

    // Returns once the written audio has been heard (delay() reads 0), or after about 3 s.
    // An output that had not started yet is started (as by play_out) first.
    virtual void drain() = 0;

    // Nothing more follows for now: an output that waits for more audio before it starts
    // starts with what it holds, padded with silence as the device needs, and running dry
    // after this audio is not an underrun. The next write goes on as usual.
    virtual void play_out() {}

    // Stops and releases the device; afterwards delay() is 0 and write() takes nothing.
    virtual void close() = 0;

    // The gain fields of the stream that starts playing; gain_db is NaN when none was sent.
    virtual void set_gain(bool processed, double gain_db) {
        (void)processed;
        (void)gain_db;
    }

    // Frames accepted and not yet heard: in the sink's buffer plus in the device. 0 when
    // closed. Called under the player lock: must not wait.
    virtual std::int64_t delay() = 0;

    // How often the output ran short of data while a stream was playing (not after its end
    // or a flush); never reset by the core.
    virtual std::uint64_t underruns() = 0;
};

}  // namespace ondelle

// The player thread: takes what the sender queued, opens the sink per stream format, writes
// 20 ms chunks with the lock released, and honours pause, flush and stop.
#include <algorithm>
#include <chrono>

#include "endpoint.h"
#include "engine/core_variant.h"
#include "sink.h"
#include "support/clock.h"

namespace ondelle {
namespace {

// Emptied audio buffers kept for the session to receive into: as many as the queue holds
// frames when it is full (about 20 ms each), so that refilling it after a burst allocates
// nothing; never more than a few hundred. The session lets them go when its sender leaves.
std::size_t max_spare_buffers(const EndpointSettings& settings) {
    const std::int32_t longest = std::max(settings.buffer_ms, settings.away_buffer_ms);
    return std::size_t(std::clamp<std::int32_t>((longest + 2000) / 20, 16, 256));
}
constexpr std::size_t max_marks = 8;
constexpr std::int64_t idle_close_ns = 3'000'000'000;

// 20 ms of audio, kept to whole 32-bit DSD groups.
std::uint64_t chunk_frames(const Format& format) {
    const std::int64_t group = (format.is_dsd() && format.layout == "u32be") ? 4 : 1;
    std::int64_t frames = std::max<std::int64_t>(format.frames_per_second() / 50, 1);
    frames = frames / group * group;
    return static_cast<std::uint64_t>(std::max(frames, group));
}

}  // namespace

void Endpoint::set_state(std::unique_lock<std::mutex>& lock, const std::string& name) {
    if (state == name) return;
    state = name;
    if (on_state) {
        lock.unlock();
        on_state(name);
        lock.lock();
    }
}

double Endpoint::queued_ms() const {
    const std::int64_t rate = current_format.frames_per_second();
    if (queue.empty() || current_format.rate <= 0 || rate <= 0) return 0.0;
    const std::uint64_t frame =
        static_cast<std::uint64_t>(std::max(current_format.frame_bytes(), 1));
    double total = 0.0;
    queue.for_each([&](const QueueEntry& entry) {
        if (entry.type != QueueEntry::Audio) return;
        const std::uint64_t whole_frames = entry.data.size() / frame;
        total += static_cast<double>(whole_frames) * 1000.0 / rate;
    });
    return total;
}

void Endpoint::player_main() {
    std::unique_lock lock(mutex);
    while (!stopping_.load()) {
        if (output_lost_request) {
            lose_output(lock);
        } else if (stop_request || flush_request) {
            discard(lock);
        } else if (pause_request) {
            pause_output(lock);
            // Anything that may have changed while the lock was released is seen first.
            if (pause_request && !stop_request && !flush_request && !output_lost_request &&
                !stopping_.load())
                cond.wait(lock);
        } else if (!queue.empty()) {
            QueueEntry entry = queue.pop();
            cond.notify_all();  // a sender may wait for room
            switch (entry.type) {
                case QueueEntry::StreamStart:
                    start_stream(lock, entry);
                    break;
                case QueueEntry::Audio:
                    play_audio(lock, entry);
                    if (spare_buffers.size() < max_spare_buffers(settings)) {
                        entry.data.clear();
                        spare_buffers.push_back(std::move(entry.data));
                    }
                    break;
                case QueueEntry::StreamEnd:
                    end_stream(lock, entry);
                    break;
            }
        } else {
            check_idle(lock);
        }
    }
}

void Endpoint::pause_output(std::unique_lock<std::mutex>& lock) {
    if (sink_open && !sink_paused) {
        sink_paused = true;
        lock.unlock();
        sink->pause(true);
        lock.lock();
    }
    set_state(lock, "paused");
}

void Endpoint::discard(std::unique_lock<std::mutex>& lock) {
    const bool stop = stop_request;
    stop_request = false;
    flush_request = false;
    // A flushed stream has been heard as far as it will be: its end is owed now. A stop
    // leaves the streams of a sender that is done with them, or gone.
    if (!stop) {
        end_open_marks();
        for (const std::int32_t stream : flushed_starts)
            owe_end(stream, static_cast<std::int64_t>(frames_written));
    }
    flushed_starts.clear();
    marks.clear();
    if (sink_open) {
        const bool was_paused = sink_paused;
        lock.unlock();
        sink->flush();
        if (stop && was_paused) sink->pause(false);
        if (stop) sink->close();
        lock.lock();
        if (stop) sink_open = false;
        sink_paused = false;
    }
    if (stop) set_state(lock, "idle");
}

// The stream's output is gone: what is left of the stream is dropped as the audio of a
// stream whose output could not open is, and the sender hears why once.
void Endpoint::lose_output(std::unique_lock<std::mutex>& lock) {
    output_lost_request = false;
    if (!sink_open) return;
    end_open_marks();  // what is left of the stream is dropped: its end is owed now
    const std::string message = output_lost_message;
    lock.unlock();
    sink->close();
    lock.lock();
    sink_open = false;
    sink_paused = false;
    set_state(lock, "idle");
    lock.unlock();
    send_to_sender(make_error("device", message));
    lock.lock();
}

void Endpoint::output_lost(const std::string& message) {
    {
        std::lock_guard lock(mutex);
        output_lost_request = true;
        output_lost_message = message;
    }
    cond.notify_all();
}

void Endpoint::start_stream(std::unique_lock<std::mutex>& lock, QueueEntry& entry) {
    lock.unlock();
    if (sink) sink->set_gain(entry.processed, entry.gain_db);
    lock.lock();
    if (!(sink_open && entry.format.same_stream_format(current_format))) {
        const bool was_open = sink_open;
        const bool was_paused = sink_paused;
        // What plays out (or is dropped) below ends every stream of this output.
        end_open_marks();
        const std::uint64_t started_generation = generation;
        lock.unlock();
        if (was_open && was_paused) {
            sink->pause(false);  // the paused remainder is dropped
            sink->flush();
            sink->close();
        } else if (was_open) {
            sink->drain();  // the remainder is played out
            sink->close();
        }
        std::string error = "no output";
        const bool opened = sink && sink->open(entry.format, error);
        lock.lock();
        sink_open = opened;
        sink_paused = false;
        marks.clear();
        if (!opened) {
            // The stream is dropped as it comes; its end is owed at once, unless the sender
            // changed meanwhile.
            if (generation == started_generation)
                owe_end(entry.stream, static_cast<std::int64_t>(frames_written));
            lock.unlock();
            send_to_sender(make_error("device", error));
            lock.lock();
            return;
        }
        current_format = entry.format;
    }
    marks.push_back(TrackMark{entry.stream, static_cast<std::int64_t>(frames_written), -1});
    if (marks.size() > max_marks) marks.pop_front();
    played_out = false;

    if (!art.empty()) {
        if (entry.stream == art_stream) {
            art_album = entry.track.album;  // the picture was sent for this stream
            art_key = entry.track.art;
        } else if (entry.track.album != art_album || entry.track.art != art_key) {
            drop_art();
        }
    }
    current_track = entry.track;
    playing_stream = entry.stream;
    current_processed = entry.processed;
    current_gain = entry.gain_db;
    set_state(lock, "playing");
    if (on_meta) {
        lock.unlock();
        on_meta(entry.track, entry.processed);
        lock.lock();
    }
}

void Endpoint::play_audio(std::unique_lock<std::mutex>& lock, QueueEntry& entry) {
    if (!sink_open || marks.empty() || marks.back().stream != entry.stream) return;
    const std::uint64_t frame = static_cast<std::uint64_t>(current_format.frame_bytes());
    if (frame == 0) return;
    const std::uint64_t frames = entry.data.size() / frame;
    const std::uint64_t chunk = chunk_frames(current_format);
    const std::uint64_t started_generation = generation;
    std::uint64_t done = 0;
    while (done < frames && generation == started_generation && !output_lost_request &&
           !stopping_.load()) {
        if (pause_request) {
            pause_output(lock);
            cond.wait(lock, [&] {
                return !pause_request || generation != started_generation || output_lost_request ||
                       stopping_.load();
            });
            continue;
        }
        if (sink_paused) {
            sink_paused = false;
            lock.unlock();
            sink->pause(false);
            lock.lock();
            set_state(lock, "playing");
        }
        const std::uint64_t count = std::min(chunk, frames - done);
        lock.unlock();
        const std::uint64_t written = sink->write(entry.data.data() + done * frame, count);
        lock.lock();
        if (written == 0) return;  // the sink stopped: the rest of the entry is dropped
        played_out = false;
        frames_written += written;
        done += written;
    }
}

void Endpoint::end_stream(std::unique_lock<std::mutex>& lock, const QueueEntry& entry) {
    const auto open_mark = [&] {
        return std::find_if(marks.begin(), marks.end(), [&](const TrackMark& m) {
            return m.stream == entry.stream && m.end == -1;
        });
    };
    if (open_mark() == marks.end()) return;
    // A sender that ends streams faster than they are heard waits while the output plays
    // what it holds, so that the record of owed ends stays small.
    const std::uint64_t started_generation = generation;
    while (owed_ends.size() >= max_owed_ends) {
        if (sink_open) {
            lock.unlock();
            sink->play_out();
            lock.lock();
        }
        cond.wait_for(lock, std::chrono::milliseconds(100));
        if (generation != started_generation || output_lost_request || stopping_.load()) return;
    }
    const auto mark = open_mark();
    if (mark == marks.end()) return;
    mark->end = static_cast<std::int64_t>(frames_written);
    owe_end(mark->stream, mark->end);
}

void Endpoint::owe_end(std::int32_t stream, std::int64_t end) {
    // Ends come in order but for the rare one owed late (a stream cut short by a reopen or a
    // flush), which goes in before those that end after it.
    const auto at =
        std::upper_bound(owed_ends.begin(), owed_ends.end(), end,
                         [](std::int64_t e, const OwedEnd& owed) { return e < owed.end; });
    owed_ends.insert(at, OwedEnd{stream, end});
}

void Endpoint::end_open_marks() {
    for (std::size_t i = 0; i < marks.size(); ++i) {
        TrackMark& mark = marks[i];
        if (mark.end != -1) continue;
        mark.end =
            i + 1 < marks.size() ? marks[i + 1].start : static_cast<std::int64_t>(frames_written);
        owe_end(mark.stream, mark.end);
    }
}

void Endpoint::close_when_idle_long(std::unique_lock<std::mutex>& lock) {
    const std::int64_t now = steady_now_ns();
    if (idle_since == 0) {
        idle_since = now;
    } else if (now - idle_since > idle_close_ns && !sink_paused) {
        lock.unlock();
        sink->close();
        lock.lock();
        sink_open = false;
        idle_since = 0;
    }
}

void Endpoint::check_idle(std::unique_lock<std::mutex>& lock) {
    const bool ended = sink_open && !marks.empty() && marks.back().end != -1;
    if (ended && !played_out) {
        // Nothing follows the last stream: an output still waiting for enough audio to start
        // plays what it has, and nobody waits for audio that is not coming.
        played_out = true;
        lock.unlock();
        sink->play_out();
        lock.lock();
    }
    if (ended && sink->delay() == 0) {
        set_state(lock, "idle");
        // Only one build closes its output for idleness; the other keeps its driver running.
        if (closes_idle_output) close_when_idle_long(lock);
    } else {
        idle_since = 0;
    }
    const auto work = [&] {
        return stopping_.load() || stop_request || flush_request || pause_request ||
               output_lost_request || !queue.empty();
    };
    // An open output is watched for the end of playback; a closed one needs no watching.
    if (sink_open)
        cond.wait_for(lock, std::chrono::milliseconds(100), work);
    else
        cond.wait(lock, work);
}

}  // namespace ondelle

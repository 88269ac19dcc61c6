// A file's audio as the sender streams it: its format on the wire, and its payloads one
// after the other, each whole wire frames (or whole FLAC frames).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "format.h"

namespace ondelle::send {

class AudioSource {
  public:
    virtual ~AudioSource() = default;
    // The stream's format: kind, rate, bits, channels; codec "flac" for forwarded FLAC.
    virtual const Format& format() const = 0;
    // Frames in the file (one per channel sample for PCM, one byte per channel for DSD).
    virtual std::int64_t total_frames() const = 0;
    // The next payload, about 20 ms of audio or one FLAC frame, and the frames it holds;
    // empty at the end. False on a read error, with error set.
    virtual bool next(std::string& payload, std::int64_t& frames, std::string& error) = 0;
    // What the reader passed over that the user may want to know, once the file has ended.
    virtual std::string note() const { return {}; }
    // Goes to the frame given, or as near before it as the file allows (a DSF block, a FLAC
    // frame when forwarded); false when it cannot, and then nothing changed.
    virtual bool seek(std::int64_t frame) = 0;
};

// Opens a file by what it holds: DSF, DFF, FLAC (forwarded as FLAC when flac_offered, else
// decoded to PCM of its own depth), or any PCM container libsndfile reads. Empty, with
// error set, when the file cannot be read or holds no audio.
std::unique_ptr<AudioSource> open_audio(const std::string& path, bool flac_offered,
                                        std::string& error);

// The three kinds, each in its own file.
std::unique_ptr<AudioSource> open_pcm_file(const std::string& path, std::string& error);
std::unique_ptr<AudioSource> open_flac_file(const std::string& path, bool forward,
                                            std::string& error);
std::unique_ptr<AudioSource> open_dsd_file(const std::string& path, std::string& error);

}  // namespace ondelle::send

// What a stream is on the wire (Format), what a device takes (SampleFormat), and the
// conversion from one to the other (SampleConverter).
#pragma once

#include <cstdint>
#include <string>

#include "json.h"
#include "support/bytes.h"

namespace ondelle {

struct Format {
    std::string kind = "pcm";  // "pcm" or "dsd"
    std::int32_t rate = 0;     // PCM frames per second; DSD one-bit rate per channel
    std::int32_t bits = 0;     // PCM bits per sample on the wire: 16, 24 or 32
    std::int32_t channels = 2;
    std::string layout = "u8";  // DSD packing on the wire: "u8" or "u32be"
    std::string codec = "pcm";  // "pcm", "flac" or "local" in transit

    bool valid() const;
    bool is_dsd() const { return kind == "dsd"; }
    // Bytes of one wire frame: one sample per channel for PCM, one byte per channel for DSD.
    std::int32_t frame_bytes() const;
    // Wire frames per second: the rate for PCM, rate / 8 for DSD.
    std::int32_t frames_per_second() const;
    // kind, rate, bits, channels and layout equal; the codec is not compared.
    bool same_stream_format(const Format& other) const;
};

Format parse_format(const Json& object);

// The encodings a device takes, by index.
enum SampleFormat : std::int32_t {
    S16_LE = 0,
    S24_3LE = 1,
    S24_LE = 2,  // 24 bits in the low three bytes of 32, sign-extended into the top byte
    S32_LE = 3,
    DSD_U8 = 4,
    DSD_U16_LE = 5,
    DSD_U16_BE = 6,
    DSD_U32_LE = 7,
    DSD_U32_BE = 8,
    DoP_S24_3LE = 9,
    DoP_S32_LE = 10,
};

// "DSD64", "DSD128", ... for a one-bit rate: the rate over 44100, or over 48000 when it is no
// multiple of 44100 (3072000 is "DSD64" too).
std::string dsd_rate_name(std::int64_t rate);

const char* sample_format_name(std::int32_t index);  // "?" above 10
int sample_bytes(std::int32_t index);
int dsd_bytes(std::int32_t index);  // DSD bytes per channel in one device sample
bool is_native_dsd(std::int32_t index);
bool is_dop(std::int32_t index);
std::int32_t output_rate(const Format& format, std::int32_t index);
bool can_convert(const Format& format, std::int32_t index);

// Converts one stream's wire frames into device frames. PCM is widened (left-justified,
// zero-padded), never narrowed; DSD is repacked, partial blocks waiting in pending, and DoP
// markers alternate frame by frame across calls until the next reset.
class SampleConverter {
  public:
    void reset(const Format& format, SampleFormat target);

    // Appends device frames to out; returns how many. frames counts wire frames.
    std::uint64_t convert(const std::uint8_t* source, std::uint64_t frames, ByteVector& out);

    const Format& format() const { return format_; }
    SampleFormat target() const { return target_; }
    const ByteVector& pending() const { return pending_; }

  private:
    std::uint64_t convert_pcm(const std::uint8_t* source, std::uint64_t frames, ByteVector& out);
    std::uint64_t convert_dsd(const std::uint8_t* source, std::uint64_t frames, ByteVector& out);
    // Converts whole blocks at source into out (already sized); returns device frames.
    std::uint64_t convert_blocks(const std::uint8_t* source, std::uint64_t blocks,
                                 std::uint8_t* out);

    Format format_;
    SampleFormat target_ = S16_LE;
    ByteVector pending_;
    bool dop_phase_ = false;
};

}  // namespace ondelle

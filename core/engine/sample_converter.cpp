// Conversion of wire audio to the device's sample encodings, DSD repacking and DoP included.
#include <algorithm>
#include <cstring>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <tmmintrin.h>
#endif

#include "format.h"

namespace ondelle {
namespace {

// One wire sample of B bytes, left-justified in a 32-bit word, written as the target wants.
template <int B, SampleFormat Target>
void widen(const std::uint8_t* source, std::uint64_t samples, std::uint8_t* out) {
    for (std::uint64_t i = 0; i < samples; ++i, source += B) {
        std::uint8_t word[4] = {0, 0, 0, 0};
        for (int j = 0; j < B; ++j)
            word[4 - B + j] = source[j];
        if constexpr (Target == S16_LE) {
            out[0] = word[2];
            out[1] = word[3];
            out += 2;
        } else if constexpr (Target == S24_3LE) {
            out[0] = word[1];
            out[1] = word[2];
            out[2] = word[3];
            out += 3;
        } else if constexpr (Target == S24_LE) {
            out[0] = word[1];
            out[1] = word[2];
            out[2] = word[3];
            out[3] = (word[3] & 0x80) ? 0xFF : 0x00;
            out += 4;
        } else {
            std::memcpy(out, word, 4);
            out += 4;
        }
    }
}

// The widenings the sinks use most, written so the compiler can vectorise them.
void widen_16_to_32(const std::uint8_t* source, std::uint64_t samples, std::uint8_t* out) {
    for (std::uint64_t i = 0; i < samples; ++i) {
        std::uint16_t sample;
        std::memcpy(&sample, source + 2 * i, 2);
        const std::uint32_t word = std::uint32_t{sample} << 16;
        std::memcpy(out + 4 * i, &word, 4);
    }
}

void widen_24_to_32_portable(const std::uint8_t* source, std::uint64_t samples, std::uint8_t* out) {
    if (samples == 0) return;
    // Load four bytes and shift the fourth out; the last sample has no fourth byte to load.
    for (std::uint64_t i = 0; i + 1 < samples; ++i) {
        std::uint32_t word;
        std::memcpy(&word, source + 3 * i, 4);
        word <<= 8;
        std::memcpy(out + 4 * i, &word, 4);
    }
    const std::uint64_t last = samples - 1;
    out[4 * last] = 0;
    out[4 * last + 1] = source[3 * last];
    out[4 * last + 2] = source[3 * last + 1];
    out[4 * last + 3] = source[3 * last + 2];
}

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
// Four samples per byte shuffle: each 3-byte sample moves up one byte with a zero below it.
__attribute__((target("ssse3"))) void widen_24_to_32_ssse3(const std::uint8_t* source,
                                                           std::uint64_t samples,
                                                           std::uint8_t* out) {
    const __m128i spread =
        _mm_setr_epi8(-128, 0, 1, 2, -128, 3, 4, 5, -128, 6, 7, 8, -128, 9, 10, 11);
    std::uint64_t i = 0;
    // Each load reads 16 bytes for 12: stop while 16 still lie inside the source.
    for (; i + 6 <= samples; i += 4) {
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 3 * i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i), _mm_shuffle_epi8(in, spread));
    }
    widen_24_to_32_portable(source + 3 * i, samples - i, out + 4 * i);
}

void widen_24_to_32(const std::uint8_t* source, std::uint64_t samples, std::uint8_t* out) {
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3) {
        widen_24_to_32_ssse3(source, samples, out);
    } else {
        widen_24_to_32_portable(source, samples, out);
    }
}
#else
void widen_24_to_32(const std::uint8_t* source, std::uint64_t samples, std::uint8_t* out) {
    widen_24_to_32_portable(source, samples, out);
}
#endif

template <int B>
void widen_to(SampleFormat target, const std::uint8_t* source, std::uint64_t samples,
              std::uint8_t* out) {
    switch (target) {
        case S16_LE:
            return widen<B, S16_LE>(source, samples, out);
        case S24_3LE:
            return widen<B, S24_3LE>(source, samples, out);
        case S24_LE:
            return widen<B, S24_LE>(source, samples, out);
        default:
            return widen<B, S32_LE>(source, samples, out);
    }
}

}  // namespace

void SampleConverter::reset(const Format& format, SampleFormat target) {
    format_ = format;
    target_ = target;
    pending_.clear();
    dop_phase_ = false;
}

std::uint64_t SampleConverter::convert(const std::uint8_t* source, std::uint64_t frames,
                                       ByteVector& out) {
    if (format_.kind == "pcm") return convert_pcm(source, frames, out);
    return convert_dsd(source, frames, out);
}

std::uint64_t SampleConverter::convert_pcm(const std::uint8_t* source, std::uint64_t frames,
                                           ByteVector& out) {
    const std::uint64_t samples =
        frames * static_cast<std::uint64_t>(std::max(format_.channels, 0));
    const int width = sample_bytes(target_);
    const std::size_t start = out.size();
    out.resize(start + samples * width);
    std::uint8_t* dest = out.data() + start;
    const int b = format_.bits / 8;
    if (format_.bits < 8) {
        std::memset(dest, 0, samples * width);
        return frames;
    }
    if (b == width) {  // the wire sample is already the device sample
        std::memcpy(dest, source, samples * width);
        return frames;
    }
    if (target_ == S32_LE && b == 2) {
        widen_16_to_32(source, samples, dest);
        return frames;
    }
    if (target_ == S32_LE && b == 3) {
        widen_24_to_32(source, samples, dest);
        return frames;
    }
    switch (b) {
        case 1:
            widen_to<1>(target_, source, samples, dest);
            break;
        case 2:
            widen_to<2>(target_, source, samples, dest);
            break;
        case 3:
            widen_to<3>(target_, source, samples, dest);
            break;
        default:
            // Wider than a word cannot come from a valid format; keep the top four bytes.
            widen_to<4>(target_, source + (b - 4), samples, dest);
            break;
    }
    return frames;
}

std::uint64_t SampleConverter::convert_dsd(const std::uint8_t* source, std::uint64_t frames,
                                           ByteVector& out) {
    const int channels = format_.channels;
    if (channels <= 0) return 0;
    const int m = dsd_bytes(target_);
    const int g = (format_.kind == "dsd" && format_.layout == "u32be") ? 4 : 1;
    const int block = std::max(m, g);
    const std::uint64_t in_bytes = frames * static_cast<std::uint64_t>(channels);

    const bool direct = (m == 1 && g == 1) || (target_ == DSD_U32_BE && g == 4);
    if (direct && pending_.empty() && frames % block == 0) {
        out.insert(out.end(), source, source + in_bytes);
        return frames / m;
    }

    const std::uint64_t block_bytes = static_cast<std::uint64_t>(block) * channels;
    const std::uint64_t blocks = (pending_.size() + in_bytes) / block_bytes;
    const std::uint64_t frames_per_block = static_cast<std::uint64_t>(block / m);
    const std::uint64_t device_frame_bytes =
        static_cast<std::uint64_t>(channels) * sample_bytes(target_);
    const std::size_t start = out.size();
    out.resize(start + blocks * frames_per_block * device_frame_bytes);
    std::uint8_t* dest = out.data() + start;
    const std::uint64_t block_out_bytes = frames_per_block * device_frame_bytes;

    // Complete the block that waits in pending first; whole blocks then convert straight
    // from the source, and what is left over waits for the next call.
    std::uint64_t done_blocks = 0;
    if (!pending_.empty()) {
        const std::uint64_t take = std::min<std::uint64_t>(block_bytes - pending_.size(), in_bytes);
        pending_.insert(pending_.end(), source, source + take);
        source += take;
        if (pending_.size() == block_bytes) {
            convert_blocks(pending_.data(), 1, dest);
            dest += block_out_bytes;
            pending_.clear();
            done_blocks = 1;
        }
        const std::uint64_t rest = in_bytes - take;
        const std::uint64_t whole = rest / block_bytes;
        convert_blocks(source, whole, dest);
        pending_.insert(pending_.end(), source + whole * block_bytes, source + rest);
        done_blocks += whole;
    } else {
        const std::uint64_t whole = in_bytes / block_bytes;
        convert_blocks(source, whole, dest);
        pending_.insert(pending_.end(), source + whole * block_bytes, source + in_bytes);
        done_blocks = whole;
    }
    return done_blocks * frames_per_block;
}

std::uint64_t SampleConverter::convert_blocks(const std::uint8_t* source, std::uint64_t blocks,
                                              std::uint8_t* out) {
    const int channels = format_.channels;
    const int m = dsd_bytes(target_);
    const bool grouped = format_.kind == "dsd" && format_.layout == "u32be";
    const int block = std::max(m, grouped ? 4 : 1);
    const std::uint64_t block_bytes = static_cast<std::uint64_t>(block) * channels;
    std::uint64_t produced = 0;
    for (std::uint64_t n = 0; n < blocks; ++n, source += block_bytes) {
        for (int i = 0; i < block / m; ++i) {
            for (int ch = 0; ch < channels; ++ch) {
                std::uint8_t b[4];
                for (int k = 0; k < m; ++k) {
                    const int t = i * m + k;
                    b[k] = grouped ? source[(t / 4) * 4 * channels + 4 * ch + t % 4]
                                   : source[t * channels + ch];
                }
                switch (target_) {
                    case DSD_U8:
                        *out++ = b[0];
                        break;
                    case DSD_U16_LE:
                        *out++ = b[1];
                        *out++ = b[0];
                        break;
                    case DSD_U16_BE:
                        *out++ = b[0];
                        *out++ = b[1];
                        break;
                    case DSD_U32_LE:
                        *out++ = b[3];
                        *out++ = b[2];
                        *out++ = b[1];
                        *out++ = b[0];
                        break;
                    case DSD_U32_BE:
                        std::memcpy(out, b, 4);
                        out += 4;
                        break;
                    case DoP_S24_3LE:
                        *out++ = b[1];
                        *out++ = b[0];
                        *out++ = dop_phase_ ? 0xFA : 0x05;
                        break;
                    case DoP_S32_LE:
                        *out++ = 0x00;
                        *out++ = b[1];
                        *out++ = b[0];
                        *out++ = dop_phase_ ? 0xFA : 0x05;
                        break;
                    default:
                        // A PCM target for DSD input: can_convert refuses it; write silence
                        // of the right size so the frame count still holds.
                        std::memset(out, 0, sample_bytes(target_));
                        out += sample_bytes(target_);
                        break;
                }
            }
            if (is_dop(target_)) dop_phase_ = !dop_phase_;
            ++produced;
        }
    }
    return produced;
}

}  // namespace ondelle

// The driver sample types this program plays, and what each one means: one table that the
// capability probe, the formats offered to senders, the buffer fill and the log lines all read.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "iasio.h"

namespace ondelle::direct {

enum class SampleKind { integer, floating, dsd };

struct SampleType {
    std::int32_t id;  // the driver's ASIOSampleType
    SampleKind kind;
    int stride;      // bytes of one sample in the driver's buffer (DSD: one byte of 8 bits)
    int valid_bits;  // PCM bits that carry the sample; the rest are dithered away under a gain
    int shift;       // right shift of a left-justified 32-bit sample to its place in the stride
    bool lsb_first;  // DSD: the earliest bit sits in the lowest place of each byte
};

inline constexpr std::array<SampleType, 11> sample_types = {{
    {asio::ASIOSTInt16LSB, SampleKind::integer, 2, 16, 16, false},
    {asio::ASIOSTInt24LSB, SampleKind::integer, 3, 24, 8, false},
    {asio::ASIOSTInt32LSB, SampleKind::integer, 4, 32, 0, false},
    {asio::ASIOSTFloat32LSB, SampleKind::floating, 4, 24, 0, false},
    {asio::ASIOSTFloat64LSB, SampleKind::floating, 8, 32, 0, false},
    {asio::ASIOSTInt32LSB16, SampleKind::integer, 4, 16, 16, false},
    {asio::ASIOSTInt32LSB18, SampleKind::integer, 4, 18, 14, false},
    {asio::ASIOSTInt32LSB20, SampleKind::integer, 4, 20, 12, false},
    {asio::ASIOSTInt32LSB24, SampleKind::integer, 4, 24, 8, false},
    {asio::ASIOSTDSDInt8LSB1, SampleKind::dsd, 1, 1, 0, true},
    {asio::ASIOSTDSDInt8MSB1, SampleKind::dsd, 1, 1, 0, false},
}};

// What a type this does not play is taken for where a size is still needed: 32-bit integer.
inline constexpr SampleType unknown_sample_type = {-1, SampleKind::integer, 4, 16, 0, false};

// The table's entry for id, if this plays it.
constexpr const SampleType* find_sample_type(std::int32_t id) {
    for (const SampleType& type : sample_types)
        if (type.id == id) return &type;
    return nullptr;
}

// The entry for id, or unknown_sample_type.
constexpr const SampleType& sample_type_of(std::int32_t id) {
    const SampleType* const type = find_sample_type(id);
    return type ? *type : unknown_sample_type;
}

// True when id is one this plays in that mode (DSD or PCM).
constexpr bool sample_type_plays(std::int32_t id, bool dsd) {
    const SampleType* const type = find_sample_type(id);
    return type && (type->kind == SampleKind::dsd) == dsd;
}

// Bytes of every sample of id in the driver's buffer: 2 for 16-bit, 3 for packed 24-bit, ...
constexpr int sample_stride(std::int32_t id) {
    return sample_type_of(id).stride;
}

// The bits of id that carry the sample (16 for a type this does not know).
constexpr int valid_bits(std::int32_t id) {
    return sample_type_of(id).valid_bits;
}

// The PCM bit depths a sender may send to a driver of type id: what its valid bits hold.
inline std::vector<std::int32_t> pcm_bits_offered(std::int32_t id) {
    const int bits = valid_bits(id);
    if (bits >= 32) return {16, 24, 32};
    if (bits >= 24) return {16, 24};
    return {16};
}

}  // namespace ondelle::direct

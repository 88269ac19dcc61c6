// Stream formats: parsing the "format" object, validity and frame sizes.
#include "format.h"

namespace ondelle {
namespace {

constexpr char names[] =
    "S16_LE\0S24_3LE\0S24_LE\0S32_LE\0DSD_U8\0DSD_U16_LE\0DSD_U16_BE\0DSD_U32_LE\0DSD_U32_BE\0"
    "DoP S24_3LE\0DoP S32_LE";
constexpr unsigned char name_offsets[] = {0, 7, 15, 22, 29, 36, 47, 58, 69, 80, 92};

}  // namespace

bool Format::valid() const {
    if (rate <= 0 || channels <= 0) return false;
    if (kind == "pcm") return bits == 16 || bits == 24 || bits == 32;
    if (kind == "dsd") return layout == "u8" || layout == "u32be";
    return false;
}

std::int32_t Format::frame_bytes() const {
    return is_dsd() ? channels : channels * (bits / 8);
}

std::int32_t Format::frames_per_second() const {
    return is_dsd() ? rate / 8 : rate;
}

bool Format::same_stream_format(const Format& other) const {
    return kind == other.kind && rate == other.rate && bits == other.bits &&
           channels == other.channels && layout == other.layout;
}

std::string dsd_rate_name(std::int64_t rate) {
    const std::int64_t base = rate % 44100 == 0 ? 44100 : 48000;
    return "DSD" + std::to_string(rate / base);
}

Format parse_format(const Json& object) {
    Format format;
    format.kind = object.get("kind").as_string("pcm");
    format.rate = static_cast<std::int32_t>(object.get("rate").as_int(0));
    format.bits = static_cast<std::int32_t>(object.get("bits").as_int(0));
    format.channels = static_cast<std::int32_t>(object.get("channels").as_int(2));
    if (format.kind == "dsd") format.layout = object.get("layout").as_string("u8");
    format.codec = object.get("codec").as_string("pcm");
    return format;
}

const char* sample_format_name(std::int32_t index) {
    if (index < 0 || index > 10) return "?";
    return names + name_offsets[index];
}

int sample_bytes(std::int32_t index) {
    switch (index) {
        case S16_LE:
        case DSD_U16_LE:
        case DSD_U16_BE:
            return 2;
        case S24_3LE:
        case DoP_S24_3LE:
            return 3;
        case DSD_U8:
            return 1;
        default:
            return 4;
    }
}

int dsd_bytes(std::int32_t index) {
    switch (index) {
        case DSD_U16_LE:
        case DSD_U16_BE:
        case DoP_S24_3LE:
        case DoP_S32_LE:
            return 2;
        case DSD_U32_LE:
        case DSD_U32_BE:
            return 4;
        default:
            return 1;
    }
}

bool is_native_dsd(std::int32_t index) {
    return index >= DSD_U8 && index <= DSD_U32_BE;
}

bool is_dop(std::int32_t index) {
    return index == DoP_S24_3LE || index == DoP_S32_LE;
}

std::int32_t output_rate(const Format& format, std::int32_t index) {
    if (format.kind == "pcm") return format.rate;
    return format.rate / (8 * dsd_bytes(index));
}

bool can_convert(const Format& format, std::int32_t index) {
    if (format.kind == "dsd") {
        if (format.layout != "u8" && format.layout != "u32be") return false;
        return index >= DSD_U8 && index <= DoP_S32_LE;
    }
    if (format.kind != "pcm" || index < S16_LE || index > S32_LE) return false;
    switch (format.bits) {
        case 16:
            return true;
        case 24:
            return index != S16_LE;
        case 32:
            return index == S32_LE;
        default:
            return false;
    }
}

}  // namespace ondelle

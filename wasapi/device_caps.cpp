// What a device plays, as a table of rates and layouts, and the wave formats asked of it.
#include "device_caps.h"

#include <ksmedia.h>

namespace ondelle::wasapi {

std::optional<DeviceFormat> find_device_format(const DeviceCaps& caps, const Format& format) {
    if (format.is_dsd()) {
        const auto found = caps.dop.find(format.rate);
        if (found == caps.dop.end()) return std::nullopt;
        return found->second;
    }
    const auto found = caps.pcm.find(format.rate);
    if (found == caps.pcm.end()) return std::nullopt;
    for (const auto& layout : found->second) {
        if (!can_convert(format, layout.sample_type)) continue;
        if (format.bits == 32 && layout.valid_bits != 32) continue;
        return layout;
    }
    return std::nullopt;
}

WAVEFORMATEXTENSIBLE make_wave_format(std::int32_t rate, std::int32_t container_bits,
                                      std::int32_t valid_bits) {
    WAVEFORMATEXTENSIBLE wave{};
    wave.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    wave.Format.nChannels = 2;
    wave.Format.nSamplesPerSec = DWORD(rate);
    wave.Format.nBlockAlign = WORD(container_bits / 4);
    wave.Format.nAvgBytesPerSec = DWORD(rate) * wave.Format.nBlockAlign;
    wave.Format.wBitsPerSample = WORD(container_bits);
    wave.Format.cbSize = 22;
    wave.Samples.wValidBitsPerSample = WORD(valid_bits);
    wave.dwChannelMask = SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
    wave.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    return wave;
}

}  // namespace ondelle::wasapi

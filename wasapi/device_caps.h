// What one render device takes, as start-up probed it, and how a stream maps onto it.
#pragma once

#include <windows.h>

#include <mmreg.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "format.h"

namespace ondelle::wasapi {

struct DeviceFormat {
    std::int32_t container_bits = 0;
    std::int32_t valid_bits = 0;
    std::int32_t sample_type = 0;  // the SampleFormat the converter produces for it
};

struct DeviceCaps {
    std::map<std::int32_t, std::vector<DeviceFormat>> pcm;  // rate → layouts in probe order
    std::map<std::int32_t, DeviceFormat> dop;               // DSD rate → its DoP layout
};

// The layout a stream plays in on this device, if any.
std::optional<DeviceFormat> find_device_format(const DeviceCaps& caps, const Format& format);

// Two channels, front left and right, PCM sub-format (DoP travels as PCM too).
WAVEFORMATEXTENSIBLE make_wave_format(std::int32_t rate, std::int32_t container_bits,
                                      std::int32_t valid_bits);

}  // namespace ondelle::wasapi

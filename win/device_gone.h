// What both programs say, in their log and to the sender, once the output they play on has
// gone away (a DAC unplugged or switched off).
#pragma once

namespace ondelle {

inline constexpr const char* output_device_gone = "the output device is gone";

}  // namespace ondelle

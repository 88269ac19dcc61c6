// libFuzzer target: arbitrary payloads for the FLAC stream decoder, as a sender's audio
// messages: the first byte picks the depth, then each message is a 16-bit length and its
// bytes. Decoding may fail, never crash or write past its output.
#include <cstddef>
#include <cstdint>

#include "engine/flac_stream_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    static const int depths[] = {16, 24, 32};
    ondelle::FlacStreamDecoder decoder;
    if (!decoder.init(depths[data[0] % 3])) return 0;
    ondelle::ByteVector output;
    std::size_t at = 1;
    while (at + 2 <= size) {
        const std::size_t length = std::size_t(data[at]) << 8 | data[at + 1];
        at += 2;
        const std::size_t take = length < size - at ? length : size - at;
        if (!decoder.decode(data + at, take, output)) break;
        if (output.size() % 4 != 0) __builtin_trap();  // whole stereo frames only
        at += take;
    }
    return 0;
}

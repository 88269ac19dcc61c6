// FLAC streams made at test time with libFLAC's encoder, cut at frame boundaries as a
// sender cuts them: the stream header, then one piece per FLAC frame.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ondelle::test {

struct FlacStream {
    std::string header;               // "fLaC" and the metadata blocks
    std::vector<std::string> frames;  // one encoded frame each
    std::vector<std::string> pcm;     // the wire PCM each frame holds
};

// Encodes frames × block_size frames of a deterministic signal that uses the full depth.
FlacStream encode_flac(int bits, int channels, int block_size, int frames, int rate = 44100);

}  // namespace ondelle::test

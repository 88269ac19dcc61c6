#include <gtest/gtest.h>

#include "engine/flac_stream_decoder.h"
#include "helpers/flac_encoding.h"

namespace ondelle {
namespace {

using test::encode_flac;

bool decode(FlacStreamDecoder& decoder, const std::string& message, std::string& pcm) {
    ByteVector out(5, 0xAA);  // whatever was there is replaced
    const bool ok =
        decoder.decode(reinterpret_cast<const std::uint8_t*>(message.data()), message.size(), out);
    pcm.assign(out.begin(), out.end());
    return ok;
}

class FlacDepths : public testing::TestWithParam<int> {};

TEST_P(FlacDepths, DecodesBitExactMessageByMessage) {
    const int bits = GetParam();
    const auto stream = encode_flac(bits, 2, 1152, 4);
    FlacStreamDecoder decoder;
    ASSERT_TRUE(decoder.init(bits));
    std::string pcm;
    // The header and the first frame in one message, then one frame per message.
    ASSERT_TRUE(decode(decoder, stream.header + stream.frames[0], pcm));
    EXPECT_EQ(pcm, stream.pcm[0]);
    for (std::size_t i = 1; i < stream.frames.size(); ++i) {
        ASSERT_TRUE(decode(decoder, stream.frames[i], pcm)) << i;
        EXPECT_EQ(pcm, stream.pcm[i]) << "frame " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Bits, FlacDepths, testing::Values(16, 24, 32));

TEST(FlacStreamDecoder, HeaderOnlyThenSeveralFramesInOneMessage) {
    const auto stream = encode_flac(16, 2, 576, 3);
    FlacStreamDecoder decoder;
    ASSERT_TRUE(decoder.init(16));
    std::string pcm;
    ASSERT_TRUE(decode(decoder, stream.header, pcm));
    EXPECT_TRUE(pcm.empty());
    ASSERT_TRUE(decode(decoder, stream.frames[0] + stream.frames[1] + stream.frames[2], pcm));
    EXPECT_EQ(pcm, stream.pcm[0] + stream.pcm[1] + stream.pcm[2]);
    // A new header starts the stream again.
    ASSERT_TRUE(decode(decoder, stream.header + stream.frames[1], pcm));
    EXPECT_EQ(pcm, stream.pcm[1]);
}

TEST(FlacStreamDecoder, FailuresStickUntilInit) {
    const auto sixteen = encode_flac(16, 2, 576, 2);
    const auto mono = encode_flac(16, 1, 576, 1);
    const auto big = encode_flac(16, 2, 4096, 70);  // 70 × 16 KiB of PCM: past 1 MiB
    std::string everything;
    for (const auto& frame : big.frames)
        everything += frame;
    const struct {
        const char* name;
        int bits;
        std::string message;
    } failures[] = {
        {"declared depth differs", 24, sixteen.header + sixteen.frames[0]},
        {"mono", 16, mono.header + mono.frames[0]},
        {"more than 1 MiB of PCM", 16, big.header + everything},
        {"not FLAC", 16, std::string("fLaC") + std::string(200, '\x55')},
    };
    for (const auto& f : failures) {
        FlacStreamDecoder decoder;
        ASSERT_TRUE(decoder.init(f.bits));
        std::string pcm;
        EXPECT_FALSE(decode(decoder, f.message, pcm)) << f.name;
        EXPECT_TRUE(pcm.empty() || f.name == std::string("more than 1 MiB of PCM")) << f.name;
        EXPECT_FALSE(decode(decoder, sixteen.header + sixteen.frames[1], pcm))
            << f.name << ": sticks";
        ASSERT_TRUE(decoder.init(16));
        EXPECT_TRUE(decode(decoder, sixteen.header + sixteen.frames[1], pcm))
            << f.name << ": init clears";
        EXPECT_EQ(pcm, sixteen.pcm[1]);
    }
    FlacStreamDecoder never_initialised;
    std::string pcm;
    EXPECT_FALSE(decode(never_initialised, sixteen.header, pcm));
}

}  // namespace
}  // namespace ondelle

#include "software_gain.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "format.h"

namespace ondelle::wasapi {
namespace {

std::vector<std::uint8_t> s32(std::initializer_list<std::int32_t> samples) {
    std::vector<std::uint8_t> bytes(samples.size() * 4);
    std::memcpy(bytes.data(), samples.begin(), bytes.size());
    return bytes;
}

std::int32_t s32_at(const std::vector<std::uint8_t>& bytes, std::size_t index) {
    std::int32_t v;
    std::memcpy(&v, bytes.data() + index * 4, 4);
    return v;
}

TEST(SoftwareGain, UnityAndAboveLeaveTheBytesAlone) {
    const auto original = s32({0x7FFFFF00, -0x12345600, 0x100});
    for (const double gain : {1.0, 1.5}) {
        auto bytes = original;
        std::uint32_t state = 22222;
        apply_software_gain(bytes.data(), bytes.size(), S32_LE, 24, gain, state);
        EXPECT_EQ(bytes, original);
        EXPECT_EQ(state, 22222u);
    }
}

TEST(SoftwareGain, ZeroSilences) {
    auto bytes = s32({0x7FFFFF00, -0x12345600});
    std::uint32_t state = 1;
    apply_software_gain(bytes.data(), bytes.size(), S32_LE, 24, 0.0, state);
    EXPECT_EQ(bytes, s32({0, 0}));
}

TEST(SoftwareGain, HalvesTwentyFourInThirtyTwoKeepingTheLowByteEmpty) {
    auto bytes = s32({0x7FFFFF00, std::int32_t(0x80000000), 0x00000100});
    std::uint32_t state = 22222;
    apply_software_gain(bytes.data(), bytes.size(), S32_LE, 24, 0.5, state);
    EXPECT_NEAR(s32_at(bytes, 0) >> 8, 0x3FFFFF, 1);
    EXPECT_NEAR(s32_at(bytes, 1) >> 8, -0x400000, 1);
    EXPECT_NEAR(s32_at(bytes, 2) >> 8, 0, 1);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(s32_at(bytes, i) & 0xFF, 0);
    EXPECT_NE(state, 22222u) << "the dither generator moves on";
}

TEST(SoftwareGain, PacksSixteenAndTwentyFourBitSamplesInTheirOwnWidth) {
    std::vector<std::uint8_t> s16{0xFF, 0x7F, 0x00, 0x80, 0xAA};  // the odd byte is left alone
    std::uint32_t state = 22222;
    apply_software_gain(s16.data(), s16.size(), S16_LE, 16, 0.25, state);
    EXPECT_NEAR(std::int16_t(s16[0] | s16[1] << 8), 0x2000, 1);
    EXPECT_NEAR(std::int16_t(s16[2] | s16[3] << 8), -0x2000, 1);
    EXPECT_EQ(s16[4], 0xAA);

    std::vector<std::uint8_t> s24{0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F};
    apply_software_gain(s24.data(), s24.size(), S24_3LE, 24, 0.5, state);
    const auto read24 = [&](std::size_t at) {
        return std::int32_t(std::uint32_t(s24[at] | s24[at + 1] << 8 | s24[at + 2] << 16) << 8) >>
               8;
    };
    EXPECT_NEAR(read24(0), -0x400000, 1);
    EXPECT_NEAR(read24(3), 0x3FFFFF, 1);
}

}  // namespace
}  // namespace ondelle::wasapi

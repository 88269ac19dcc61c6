// Ring samples into the driver's sample types, the requantisation under a gain and the bit
// order of DSD.
#include "driver_samples.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

namespace ondelle::direct {
namespace {

std::vector<std::uint8_t> stored(std::int32_t s, std::int32_t type) {
    std::vector<std::uint8_t> out(std::size_t(sample_stride(type)), 0xEE);
    store_sample(s, type, out.data());
    return out;
}

TEST(SampleStore, EveryPcmTypeTakesTheTopBitsItHolds) {
    const std::int32_t s = std::int32_t(0x89ABCDEFu);  // negative, all bytes distinct
    struct Case {
        std::int32_t type;
        std::vector<std::uint8_t> bytes;
    };
    for (const auto& c : std::vector<Case>{
             {16, {0xAB, 0x89}},
             {17, {0xCD, 0xAB, 0x89}},
             {18, {0xEF, 0xCD, 0xAB, 0x89}},
             {24, {0xAB, 0x89, 0xFF, 0xFF}},
             {25, {0xAF, 0x26, 0xFE, 0xFF}},
             {26, {0xBC, 0x9A, 0xF8, 0xFF}},
             {27, {0xCD, 0xAB, 0x89, 0xFF}},
         })
        EXPECT_EQ(stored(s, c.type), c.bytes) << "type " << c.type;

    float single = 0;
    std::memcpy(&single, stored(std::int32_t(0xC0000000u), 19).data(), 4);
    EXPECT_EQ(single, -0.5f);
    double full = 0;
    std::memcpy(&full, stored(0x40000000, 20).data(), 8);
    EXPECT_EQ(full, 0.5);
}

TEST(SampleStore, OnlyTheTypesThisPlaysAreAccepted) {
    for (const std::int32_t type : {16, 17, 18, 19, 20, 24, 25, 26, 27})
        EXPECT_TRUE(sample_type_plays(type, false)) << type;
    for (const std::int32_t type : {-1, 0, 2, 21, 28, 32, 33})
        EXPECT_FALSE(sample_type_plays(type, false)) << type;
    EXPECT_TRUE(sample_type_plays(32, true));
    EXPECT_TRUE(sample_type_plays(33, true));
    EXPECT_FALSE(sample_type_plays(40, true));
    EXPECT_FALSE(sample_type_plays(18, true));
}

TEST(SampleStore, MuteLeavesOnlyDitherOfOneUnitAtTheValidBits) {
    std::uint32_t state = 12345;
    std::set<std::int32_t> seen;
    for (int i = 0; i < 2000; ++i)
        seen.insert(requantise(std::int32_t(0x7FFFFFFF), 0.0, 27, state) >> 8);
    EXPECT_EQ(seen, (std::set<std::int32_t>{-1, 0, 1}));
    EXPECT_NE(state, 12345u);
}

TEST(SampleStore, GainScalesAndClampsAtTheValidBits) {
    std::uint32_t state = 12345;
    // Half of full scale at 16 bits: 0x4000, give or take the dither's one unit.
    const std::int32_t half = requantise(std::int32_t(0x7FFFFFFF), 0.5, 16, state);
    EXPECT_NEAR(half >> 16, 0x4000, 1);
    EXPECT_EQ(half & 0xFFFF, 0);
    EXPECT_EQ(requantise(std::int32_t(0x80000000u), 1.5, 18, state), std::int32_t(0x80000000u));
    EXPECT_EQ(requantise(std::int32_t(0x7FFFFFFF), 1.5, 18, state), std::int32_t(0x7FFFFFFF));
    // The generator's first draws from its seed.
    EXPECT_EQ(next_random(12345), 595905495u);
    EXPECT_EQ(next_random(1), 48271u);
}

TEST(SampleStore, BitReverse) {
    EXPECT_EQ(bit_reverse[0x01], 0x80);
    EXPECT_EQ(bit_reverse[0x69], 0x96);
    EXPECT_EQ(bit_reverse[0xF0], 0x0F);
}

}  // namespace
}  // namespace ondelle::direct

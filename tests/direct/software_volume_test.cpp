// The software volume's taper, from the endpoint's level to the buffer switch's gain.
#include "software_volume.h"

#include <gtest/gtest.h>

namespace ondelle::direct {
namespace {

TEST(SoftwareVolumeTaper, IsCubic) {
    EXPECT_DOUBLE_EQ(volume_gain(50, false), 0.125);
    EXPECT_NEAR(volume_gain(30, false), 0.027, 1e-15);
    EXPECT_DOUBLE_EQ(volume_gain(100, false), 1.0);
    EXPECT_DOUBLE_EQ(volume_gain(150, false), 1.0);
    EXPECT_DOUBLE_EQ(volume_gain(0, false), 0.0);
    EXPECT_DOUBLE_EQ(volume_gain(-3, false), 0.0);
    EXPECT_DOUBLE_EQ(volume_gain(80, true), 0.0);
}

}  // namespace
}  // namespace ondelle::direct

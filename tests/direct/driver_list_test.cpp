// The --driver rule and the capability listing.
#include "driver_list.h"

#include <gtest/gtest.h>

namespace ondelle::direct {
namespace {

TEST(DriverChoice, ExactNameThenContainedThenAnyCase) {
    const std::vector<DriverEntry> drivers = {
        {"USB Audio ASIO Driver", {}}, {"Test", {}}, {"Testing Rig", {}}, {"Studio DAC", {}}};
    struct Case {
        std::string asked;
        const char* chosen;  // nullptr: none
    };
    for (const Case& c : std::vector<Case>{{"Test", "Test"},
                                           {"Rig", "Testing Rig"},
                                           {"usb audio", "USB Audio ASIO Driver"},
                                           {"DAC", "Studio DAC"},
                                           {"Nothing", nullptr},
                                           {"", nullptr}}) {
        const DriverEntry* entry = choose_driver(drivers, c.asked);
        EXPECT_STREQ(entry ? entry->name.c_str() : nullptr, c.chosen) << c.asked;
    }
}

TEST(CapsListing, NamesRatesTypeAndDsdBitOrder) {
    Caps caps;
    caps.rates = {44100, 96000};
    caps.sample_type = 18;
    EXPECT_EQ(caps_listing(caps), "    PCM: 44100 96000  (sample type 18)\n    native DSD: no\n");
    caps.dsd_rates = {2822400, 6144000};
    caps.dsd_sample_type = 32;
    EXPECT_EQ(
        caps_listing(caps),
        "    PCM: 44100 96000  (sample type 18)\n    native DSD: DSD64 DSD128  (LSB-first)\n");
    caps.dsd_sample_type = 33;
    EXPECT_NE(caps_listing(caps).find("(MSB-first)"), std::string::npos);
}

}  // namespace
}  // namespace ondelle::direct

#include "options.h"

#include <gtest/gtest.h>

#include "identity.h"

namespace ondelle {
namespace {

Options parsed(std::vector<std::string> arguments, bool ok = true) {
    arguments.insert(arguments.begin(), "ondelle-wasapi");
    Options options;
    EXPECT_EQ(parse_options(arguments, options), ok);
    return options;
}

TEST(Options, DefaultsWithoutArguments) {
    const Options options = parsed({});
    EXPECT_EQ(options.port, 4720);
    EXPECT_EQ(options.buffer_ms, 2000);
    EXPECT_EQ(options.device, "");
    EXPECT_FALSE(options.dop || options.mix || options.list || options.follow_system);
}

TEST(Options, ValuesAreTakenWhateverTheyLookLike) {
    const Options options = parsed({"--device", "--mix", "--port", "47x", "--flac", "FLAC",
                                    "--buffer", "500", "--away-burst", "9", "--dop"});
    EXPECT_EQ(options.device, "--mix");
    EXPECT_FALSE(options.mix);
    EXPECT_EQ(options.port, 47);
    EXPECT_EQ(options.flac, "FLAC");
    EXPECT_EQ(options.buffer_ms, 500);
    EXPECT_EQ(options.away_burst_ms, 9);
    EXPECT_TRUE(options.dop);
    EXPECT_EQ(parsed({"--port", "abc"}).port, 0);
    EXPECT_EQ(parsed({"--port"}).port, 0) << "a value option in last place gets nothing";
}

TEST(Options, AnythingElseIsAUsageError) {
    parsed({"--list", "--LIST"}, false);
    parsed({"-list"}, false);
    parsed({"list"}, false);
}

TEST(Identity, IdentifierKeepsTwentyFourLettersAndDigitsLowercased) {
    EXPECT_EQ(endpoint_id("DEN", "Speakers (USB Audio DAC 2.0) Pro Max Ultra"),
              "ondelle-wasapi-DEN-speakersusbaudiodac20pro");
    EXPECT_EQ(endpoint_id("DEN", "\xc3\xa9 -- \xc2\xb7"), "ondelle-wasapi-DEN-");
    EXPECT_EQ(default_display_name("DEN", "DAC"), "DEN \xc2\xb7 DAC");
}

}  // namespace
}  // namespace ondelle

#include "options.h"

#include <gtest/gtest.h>

#include "identity.h"

namespace ondelle::wasapi {
namespace {


Options parsed(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "ondelle-wasapi");
    Options options;
    std::string error;
    EXPECT_EQ(parse_command_line(command_line(options), arguments, error), Parsed::run)
        << error;
    return options;
}

TEST(Options, DefaultsWithoutArguments) {
    const Options options = parsed({});
    EXPECT_EQ(options.port, 4720);
    EXPECT_EQ(options.buffer_ms, 2000);
    EXPECT_EQ(options.device, "");
    EXPECT_FALSE(options.dop || options.mix || options.list || options.follow_system);
}

TEST(Options, ValuesAreTakenAsGiven) {
    const Options options =
        parsed({"--device", "--mix", "--port", "65535", "--flac", "forwarded", "--buffer", "500",
                "--away-burst", "9", "--dop", "--log", "C:\\logs\\den log.txt"});
    EXPECT_EQ(options.device, "--mix");  // a value is the next argument, whatever it looks like
    EXPECT_FALSE(options.mix);
    EXPECT_EQ(options.port, 65535);
    EXPECT_EQ(options.flac, "forwarded");
    EXPECT_EQ(options.buffer_ms, 500);
    EXPECT_EQ(options.away_burst_ms, 9);
    EXPECT_TRUE(options.dop);
    EXPECT_EQ(options.log, "C:\\logs\\den log.txt");
    EXPECT_EQ(parsed({"--port", "0", "--buffer", "0"}).port, 0);
}

TEST(Identity, IdentifierKeepsTwentyFourLettersAndDigitsLowercased) {
    EXPECT_EQ(endpoint_id("DEN", "Speakers (USB Audio DAC 2.0) Pro Max Ultra"),
              "ondelle-wasapi-DEN-speakersusbaudiodac20pro");
    EXPECT_EQ(endpoint_id("DEN", "\xc3\xa9 -- \xc2\xb7"), "ondelle-wasapi-DEN-");
    EXPECT_EQ(default_display_name("DEN", "DAC"), "DEN \xc2\xb7 DAC");
}

}  // namespace
}  // namespace ondelle::wasapi

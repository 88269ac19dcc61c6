// ondelle-wasapi from the outside: listings, usage and exit codes, the banner, the volume
// kinds and the log file, on simulated machines.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

#include "e2e/program.h"

namespace ondelle::test {
namespace {

const std::string all_layouts = " 16-in-16 24-in-24 24-in-32 32-in-32\n";

std::string default_listing() {
    std::string text;
    for (const char* rate : {" 44100", " 48000", " 88200", " 96000", "176400", "192000", "352800",
                             "384000", "705600", "768000"})
        text += std::string("    PCM ") + rate + " Hz:" + all_layouts;
    return text;
}

std::string machine(const std::string& devices) {
    return R"({"computer_name":"DEN","render_devices":[)" + devices + "]}";
}

TEST(Listing, DefaultMachineListsEveryRateAndLayout) {
    const auto run = run_wasapi({"--list"});
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.out, "Speakers (Simulated DAC)\n" + default_listing());
}

struct ListingCase {
    const char* name;
    std::string devices;
    std::vector<std::string> arguments;
    std::string listing;
};

class Listings : public testing::TestWithParam<ListingCase> {};

TEST_P(Listings, PrintsWhatTheProbeFound) {
    const auto& c = GetParam();
    const auto run = run_wasapi(c.arguments, machine(c.devices));
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out, c.listing);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, Listings,
    testing::Values(
        ListingCase{"OnlyTwentyFourInThirtyTwo",
                    R"({"name":"USB DAC","rates":[44100,48000],"layouts":["24/32"]})",
                    {"--list", "--dop"},
                    "USB DAC\n    PCM  44100 Hz: 24-in-32\n    PCM  48000 Hz: 24-in-32\n"},
        ListingCase{"DopInTwentyFourBits",
                    R"({"name":"DSD DAC","rates":[44100,176400],"layouts":["16/16","24/24"]})",
                    {"--list", "--dop"},
                    "DSD DAC\n    PCM  44100 Hz: 16-in-16 24-in-24\n"
                    "    PCM 176400 Hz: 16-in-16 24-in-24\n"
                    "    DSD64        : DoP 24-in-24 at 176400 Hz\n"},
        ListingCase{
            "DopInThirtyTwoBitsAndNoDopWithoutTheOption",
            R"({"name":"A","rates":[176400,352800],"layouts":["24/32"]},)"
            R"({"name":"B","rates":[176400],"layouts":["24/32"]})",
            {"--list", "--dop"},
            "A\n    PCM 176400 Hz: 24-in-32\n    PCM 352800 Hz: 24-in-32\n"
            "    DSD64        : DoP 24-in-32 at 176400 Hz\n"
            "    DSD128       : DoP 24-in-32 at 352800 Hz\n"
            "B\n    PCM 176400 Hz: 24-in-32\n    DSD64        : DoP 24-in-32 at 176400 Hz\n"},
        ListingCase{
            "DeviceHeldByAnotherProgram",
            R"({"name":"Busy","in_use":true},{"name":"Free","rates":[48000],"layouts":["16/16"]})",
            {"--list"},
            "Busy\n    nothing in exclusive mode (0x8889000a: another program may hold it "
            "exclusively)\nFree\n    PCM  48000 Hz: 16-in-16\n"},
        ListingCase{
            "InactiveDevicesAreLeftOut",
            R"({"name":"Unplugged","active":false},{"name":"Here","rates":[96000],"layouts":["32/32"]})",
            {"--list"},
            "Here\n    PCM  96000 Hz: 32-in-32\n"}),
    [](const auto& info) { return info.param.name; });

TEST(Usage, UnknownArgumentPrintsTheUsageAndExitsTwo) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--lst"}, {"--list", "-v"}, {"--port", "1", "--Mix"}}) {
        const auto run = run_wasapi(arguments);
        EXPECT_EQ(run.code, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err,
                  "ondelle-wasapi: unknown option " + arguments.back() +
                      "\nusage: ondelle-wasapi [--device NAME] [--name S] [--port N] [--dop] "
                      "[--buffer MS] [--away-buffer MS] [--away-burst MS] [--flac all|forwarded] "
                      "[--local-sender ID] [--follow-system] [--mix] [--any-address] [--wait] "
                      "[--log FILE] [--list] [--service] [--service-name NAME]\n"
                      "       ondelle-wasapi --install-service [--force] [OPTION]... | "
                      "--uninstall-service [--service-name NAME]\n");
    }
}

struct FailureCase {
    const char* name;
    std::string sim;
    std::vector<std::string> arguments;
    std::string err;
    std::string out;
};

class StartFailures : public testing::TestWithParam<FailureCase> {};

TEST_P(StartFailures, ExitOneWithTheirLine) {
    const auto& c = GetParam();
    const auto run = run_wasapi(c.arguments, c.sim);
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.out, c.out);
}

INSTANTIATE_TEST_SUITE_P(
    Machines, StartFailures,
    testing::Values(
        FailureCase{"NoEnumerator",
                    R"({"enumerator":false})",
                    {},
                    "ondelle-wasapi: no audio devices (MMDeviceEnumerator)\n",
                    ""},
        FailureCase{"NoMatchingDeviceEvenWithADefault",
                    "",
                    {"--device", "usb"},
                    "ondelle-wasapi: no output device \"usb\" (ondelle-wasapi --list)\n",
                    ""},
        FailureCase{"NoDefaultDevice",
                    machine(R"({"name":"Line Out"})"),
                    {},
                    "ondelle-wasapi: no output device \"\" (ondelle-wasapi --list)\n",
                    ""},
        FailureCase{"DeviceTakesNothing",
                    machine(R"({"name":"Busy","default":true,"in_use":true})"),
                    {},
                    "",
                    "Busy\n    nothing in exclusive mode (0x8889000a: another program may hold it "
                    "exclusively)\n"},
        FailureCase{"ClientCannotBeActivated",
                    machine(R"({"name":"Gone","default":true,"activate_error":"0x88890004"})"),
                    {"--mix"},
                    "",
                    "Gone\n    nothing in exclusive mode (0x88890004: another program may hold it "
                    "exclusively)\n"}),
    [](const auto& info) { return info.param.name; });

TEST(Start, PrintsDeviceListingVolumeAndBannerThenStopsOnSignal) {
    if (!std::getenv("ONDELLE_PRIVATE_NET"))
        GTEST_SKIP() << "the program advertises: run in the private test namespace";
    TempDir dir;
    const int port = free_port();
    WasapiProgram program(dir, {"--port", std::to_string(port)},
                          machine(R"j({"name":"Speakers (Simulated DAC)","default":true})j"));
    ASSERT_TRUE(program.wait_for_out("Ondelle endpoint")) << program.err();
    program.send_signal(SIGINT);
    EXPECT_EQ(program.wait_exit(), 0);
    EXPECT_EQ(program.out(),
              "Speakers (Simulated DAC)\n" + default_listing() +
                  "volume: the device's hardware volume\n"
                  "Ondelle endpoint \"DEN \xc2\xb7 Speakers (Simulated DAC)\" on port " +
                  std::to_string(port) + "\n");
}

TEST(Start, ChoosesByNameAndListsTheMixerRateWithMix) {
    if (!std::getenv("ONDELLE_PRIVATE_NET"))
        GTEST_SKIP() << "the program advertises: run in the private test namespace";
    TempDir dir;
    const int port = free_port();
    WasapiProgram program(
        dir, {"--device", "USB", "--mix", "--name", "Den", "--port", std::to_string(port)},
        machine(R"({"name":"usb lowercase"},{"name":"My USB DAC","mix_rate":44100},)"
                R"({"name":"Other USB"})"));
    ASSERT_TRUE(program.wait_for_out("Ondelle endpoint")) << program.err();
    program.send_signal(SIGTERM);
    EXPECT_EQ(program.wait_exit(), 0);
    EXPECT_EQ(program.out(), "My USB DAC\n    PCM  44100 Hz:" + all_layouts +
                                 "volume: the device's hardware volume\n"
                                 "Ondelle endpoint \"Den\" on port " +
                                 std::to_string(port) + "\n");
}

// A DAC switched on after the start: with --wait the device is waited for, then served; a
// signal ends the wait with exit code 0. Without --wait the start fails as before.
TEST(Start, WaitsForADeviceSwitchedOnAfterTheStart) {
    if (!std::getenv("ONDELLE_PRIVATE_NET"))
        GTEST_SKIP() << "the program advertises: run in the private test namespace";
    TempDir dir;
    const int port = free_port();
    const std::string late =
        machine(R"({"name":"Late DAC","default":true,"appears_after_ms":1000})");
    WasapiProgram program(dir, {"--wait", "--port", std::to_string(port)}, late);
    ASSERT_TRUE(program.wait_for_out("Ondelle endpoint", 15s)) << program.err();
    EXPECT_EQ(program.err().rfind("ondelle-wasapi: waiting for the default output device (looked "
                                  "for again every 3 s)\n"
                                  "ondelle-wasapi: the default output device is here\n",
                                  0),
              0u)
        << program.err();
    EXPECT_EQ(program.out().rfind("Late DAC\n", 0), 0u) << program.out();
    program.send_signal(SIGINT);
    EXPECT_EQ(program.wait_exit(), 0);

    const std::string never =
        machine(R"({"name":"Late DAC","default":true,"appears_after_ms":60000})");
    WasapiProgram waiting(dir, {"--wait", "--device", "Late", "--port", std::to_string(port)},
                          never);
    ASSERT_TRUE(waiting.wait_for_err("waiting for the output device \"Late\"")) << waiting.err();
    waiting.send_signal(SIGTERM);
    EXPECT_EQ(waiting.wait_exit(), 0);
    EXPECT_EQ(waiting.out(), "");

    const Finished without = run_wasapi({"--port", std::to_string(port)}, never);
    EXPECT_EQ(without.code, 1);
    EXPECT_EQ(without.err, "ondelle-wasapi: no output device \"\" (ondelle-wasapi --list)\n");
}

TEST(Start, PortInUseExitsOne) {
    if (!std::getenv("ONDELLE_PRIVATE_NET"))
        GTEST_SKIP() << "the program advertises: run in the private test namespace";
    TempDir dir;
    const int port = free_port();
    WasapiProgram first(dir, {"--port", std::to_string(port)});
    ASSERT_TRUE(first.wait_for_out("Ondelle endpoint"));
    const auto second = run_wasapi({"--port", std::to_string(port)});
    EXPECT_EQ(second.code, 1);
    EXPECT_NE(second.err.find("ondelle-wasapi: port " + std::to_string(port) + ": "),
              std::string::npos)
        << second.err;
    first.send_signal(SIGINT);
    EXPECT_EQ(first.wait_exit(), 0);
}

struct VolumeKindCase {
    const char* name;
    std::string device;  // without name and default
    std::vector<std::string> arguments;
    std::string kind;
};

class VolumeKinds : public testing::TestWithParam<VolumeKindCase> {};

TEST_P(VolumeKinds, FollowFromTheDeviceAndTheOptions) {
    if (!std::getenv("ONDELLE_PRIVATE_NET"))
        GTEST_SKIP() << "the program advertises: run in the private test namespace";
    const auto& c = GetParam();
    TempDir dir;
    auto arguments = c.arguments;
    arguments.insert(arguments.end(), {"--port", std::to_string(free_port())});
    WasapiProgram program(dir, arguments,
                          machine(R"({"name":"D","default":true)" + c.device + "}"));
    ASSERT_TRUE(program.wait_for_out("Ondelle endpoint")) << program.err();
    program.send_signal(SIGINT);
    EXPECT_EQ(program.wait_exit(), 0);
    EXPECT_NE(program.out().find("\nvolume: " + c.kind + "\n"), std::string::npos) << program.out();
}

INSTANTIATE_TEST_SUITE_P(
    Devices, VolumeKinds,
    testing::Values(
        VolumeKindCase{
            "Hardware", "", {"--mix", "--follow-system"}, "the device's hardware volume"},
        VolumeKindCase{"Mixer",
                       R"(,"hardware_volume":false)",
                       {"--mix", "--follow-system"},
                       "Windows' volume (its mixer)"},
        VolumeKindCase{"Software",
                       R"(,"hardware_volume":false)",
                       {"--follow-system"},
                       "Windows' volume, applied here"},
        VolumeKindCase{"Fixed", R"(,"hardware_volume":false)", {}, "fixed (the DAC's own knob)"},
        VolumeKindCase{"NoEndpointVolume",
                       R"(,"endpoint_volume":false)",
                       {"--mix"},
                       "fixed (the DAC's own knob)"}),
    [](const auto& info) { return info.param.name; });

TEST(LogFile, AppendsUpToOneMebibyteThenStartsAfresh) {
    TempDir dir;
    for (const std::size_t size : {std::size_t(1048576), std::size_t(1048577)}) {
        const std::string log = dir.path("endpoint.log");
        write_file(log, std::string(size, 'x'));
        const auto run = run_wasapi({"--log", log, "--device", "nothing"});
        EXPECT_EQ(run.code, 1);
        EXPECT_EQ(run.err, "");
        const std::string text = read_file(log);
        const std::size_t kept = size == 1048576 ? size : 0;
        ASSERT_GT(text.size(), kept);
        EXPECT_EQ(text.substr(0, kept), std::string(kept, 'x'));
        const std::string rest = text.substr(kept);
        EXPECT_EQ(rest.rfind("\n=== ondelle-wasapi \"nothing\" port 4720 started ", 0), 0u) << rest;
        EXPECT_NE(rest.find(" ondelle-wasapi: no output device \"nothing\""), std::string::npos)
            << rest;
    }
}

// A log that cannot be written is said once on the console, which then keeps the lines.
TEST(LogFile, ThatCannotBeWrittenIsSaidAndStartUpGoesOn) {
    TempDir dir;
    const std::string log = dir.path("no such folder/endpoint.log");
    const auto run = run_wasapi({"--log", log, "--device", "nothing"});
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.err,
              "ondelle-wasapi: cannot write the log to " + log +
                  ": No such file or directory\n"
                  "ondelle-wasapi: no output device \"nothing\" (ondelle-wasapi --list)\n");
}

}  // namespace
}  // namespace ondelle::test

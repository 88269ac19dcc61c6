// Ondelle-Direct as users run it, on simulated ASIO drivers: the listing and the command
// line, streams checked byte for byte against what the driver was handed, the software
// volume with its dither, local mode, and the driver's own log of the calls it received.
// Streaming tests run in local mode, which advertises nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <thread>

#include "e2e/program.h"
#include "e2e/wire_audio.h"
#include "helpers/peer.h"

namespace ondelle::test {
namespace {

const std::string direct = ONDELLE_DIRECT_PATH;
const std::string hello = R"({"t":"hello","proto":2,"sender":{"id":"s1","name":"One"}})";

// The wire samples of `bits`, left-justified into 32 bits.
std::vector<std::int32_t> samples_of(const std::string& wire, int bits) {
    const std::size_t bytes = std::size_t(bits / 8);
    std::vector<std::int32_t> samples;
    for (std::size_t at = 0; at + bytes <= wire.size(); at += bytes) {
        std::uint32_t u = 0;
        for (std::size_t b = 0; b < bytes; ++b)
            u |= std::uint32_t(static_cast<unsigned char>(wire[at + b])) << (8 * b);
        samples.push_back(std::int32_t(u << (32 - bits)));
    }
    return samples;
}

template <class T>
std::string bytes_of(T value, std::size_t size = sizeof(T)) {
    std::string out(size, '\0');
    std::memcpy(out.data(), &value, size);
    return out;
}

// What a driver of sample type `type` must receive for the left-justified sample s.
std::string driver_sample(std::int32_t s, int type) {
    const auto u = std::uint32_t(s);
    switch (type) {
        case 16:
            return bytes_of(std::uint16_t(u >> 16));
        case 17:
            return bytes_of(u >> 8, 3);
        case 19:
            return bytes_of(float(s / 2147483648.0));
        case 20:
            return bytes_of(s / 2147483648.0);
        case 24:
            return bytes_of(s >> 16);
        case 25:
            return bytes_of(s >> 14);
        case 26:
            return bytes_of(s >> 12);
        case 27:
            return bytes_of(s >> 8);
        default:
            return bytes_of(u);
    }
}

std::string driver_samples(const std::vector<std::int32_t>& samples, int type) {
    std::string out;
    for (const std::int32_t s : samples)
        out += driver_sample(s, type);
    return out;
}

std::string driver_json(const std::string& name, const std::string& extra) {
    return R"({"name":")" + name + "\"" + extra + "}";
}

std::string machine_json(const std::vector<std::string>& drivers) {
    std::string json = R"({"computer_name":"DEN","asio_drivers":[)";
    for (std::size_t i = 0; i < drivers.size(); ++i)
        json += (i ? "," : "") + drivers[i];
    return json + "]}";
}

// Every driver call the simulation logged, one per line.
std::vector<std::string> log_lines(const std::string& path) {
    std::vector<std::string> lines;
    std::string text = read_file(path);
    for (std::size_t at = 0; at < text.size();) {
        const auto end = text.find('\n', at);
        lines.push_back(text.substr(at, end - at));
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

std::size_t count_of(const std::vector<std::string>& lines, const std::string& line) {
    return std::size_t(std::count(lines.begin(), lines.end(), line));
}

TEST(DirectCommandLine, ListsEveryDriverWithWhatItPlaysOrWhyNot) {
    const std::string json = machine_json({
        driver_json("Bad Key", R"(,"clsid":"{not-a-class}")"),
        driver_json("No Value", R"(,"clsid":null)"),
        driver_json("Old DAC", R"(,"load_error":"0x80040154")"),
        driver_json("Asleep", R"(,"init_error":"no hardware")"),
        driver_json("Quiet", R"(,"init_error":"")"),
        driver_json("Plain", R"(,"sample_type":17,"rates":[44100,96000])"),
        driver_json("Mono", R"(,"outputs":1)"),
        driver_json("Odd", R"(,"sample_type":2)"),
        driver_json("One Bit", R"(,"sample_type":27,"dsd":true,"dsd_sample_type":32,)"
                               R"("dsd_rates":[2822400,6144000,11289600])"),
    });
    const Finished run = run_executable(direct, {"--list"}, json);
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out,
              "Old DAC\n"
              "    the driver could not be loaded (0x80040154) \xe2\x80\x94 a 32-bit-only driver "
              "cannot load here\n"
              "Asleep\n"
              "    the driver did not start: no hardware\n"
              "Quiet\n"
              "    the driver did not start: the driver did not say why\n"
              "Plain\n"
              "    PCM: 44100 96000  (sample type 17)\n"
              "    native DSD: no\n"
              "Mono\n"
              "    the driver has fewer than two outputs\n"
              "Odd\n"
              "    the driver offers no PCM rate it can play as it is\n"
              "One Bit\n"
              "    PCM: 44100 48000 88200 96000 176400 192000 352800 384000 705600 768000  "
              "(sample type 27)\n"
              "    native DSD: DSD64 DSD128 DSD256  (LSB-first)\n");

    for (const std::string& machine :
         {std::string(R"({"asio_key":false})"), std::string(R"({"asio_drivers":[]})")}) {
        const Finished none = run_executable(direct, {"--list"}, machine);
        EXPECT_EQ(none.code, 0);
        EXPECT_EQ(none.out, "No ASIO drivers are installed (HKLM\\SOFTWARE\\ASIO).\n");
    }
}

TEST(DirectCommandLine, UsageAndNoDriver) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--drivers"}, {"--list", "--volume", "software", "-v"}}) {
        const Finished run = run_executable(direct, arguments);
        EXPECT_EQ(run.code, 2);
        EXPECT_EQ(run.err,
                  "Ondelle-Direct: unknown option " + arguments.back() +
                      "\nusage: Ondelle-Direct --list | --driver NAME [--name S] [--port N] "
                      "[--buffer MS] [--volume fixed|software]\n"
                      "                   [--any-address] [--wait] [--local] [--panel] "
                      "[--service] [--service-name NAME] [--log FILE]\n"
                      "       Ondelle-Direct --install-service [--force] --driver NAME "
                      "[OPTION]... | --uninstall-service [--service-name NAME]\n");
    }
    const std::string two = machine_json({driver_json("One", ""), driver_json("Two", "")});
    const Finished nothing = run_executable(direct, {}, two);
    EXPECT_EQ(nothing.code, 1);
    EXPECT_EQ(nothing.err, "Ondelle-Direct: no ASIO driver \"\" (Ondelle-Direct --list)\n");
    const Finished missing = run_executable(direct, {"--driver", "Nope"}, R"({"asio_key":false})");
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(missing.err, "Ondelle-Direct: no ASIO driver \"Nope\" (Ondelle-Direct --list)\n");
}

// With one driver installed, naming it is not needed.
TEST(DirectCommandLine, TheOnlyDriverServesWithoutItsName) {
    TempDir dir;
    Program program(dir, direct, {"--local"}, machine_json({driver_json("Only DAC", "")}), true);
    ASSERT_TRUE(program.wait_for_out("port ")) << program.err();
    EXPECT_EQ(program.err().rfind("Ondelle-Direct: no --driver given: serving the one driver "
                                  "installed, \"Only DAC\"\n",
                                  0),
              0u)
        << program.err();
    program.close_input();
    EXPECT_EQ(program.wait_exit(), 0);
}

// A DAC switched on after the start: with --wait its driver is waited for, then served; a
// signal ends the wait with exit code 0.
TEST(DirectCommandLine, WaitsForADriverInstalledAfterTheStart) {
    TempDir dir;
    Program program(dir, direct, {"--local", "--wait"},
                    machine_json({driver_json("Late DAC", R"(,"appears_after_ms":1000)")}), true);
    ASSERT_TRUE(program.wait_for_out("port ", 15s)) << program.err();
    EXPECT_EQ(program.err(),
              "Ondelle-Direct: waiting for an ASIO driver (looked for again every 3 s)\n"
              "Ondelle-Direct: no --driver given: serving the one driver installed, "
              "\"Late DAC\"\n"
              "Ondelle-Direct: an ASIO driver is here\n");
    program.close_input();
    EXPECT_EQ(program.wait_exit(), 0);

    Program waiting(dir, direct, {"--driver", "Late", "--local", "--wait"},
                    machine_json({driver_json("Late DAC", R"(,"appears_after_ms":60000)")}), true);
    ASSERT_TRUE(waiting.wait_for_err("waiting for the ASIO driver \"Late\"")) << waiting.err();
    waiting.send_signal(SIGINT);
    EXPECT_EQ(waiting.wait_exit(), 0);
    EXPECT_EQ(waiting.out(), "");
}

struct ChoiceCase {
    std::vector<std::string> drivers;
    std::string asked;
    std::string chosen;
};

class DirectDriverChoice : public testing::TestWithParam<ChoiceCase> {};

// Every driver refuses to start with its own name, so the choice shows without serving.
TEST_P(DirectDriverChoice, PrefersTheExactNameThenTheFirstThatContainsItThenAnyCase) {
    std::vector<std::string> drivers;
    for (const auto& name : GetParam().drivers)
        drivers.push_back(driver_json(name, R"(,"init_error":")" + name + "\""));
    const Finished run =
        run_executable(direct, {"--driver", GetParam().asked}, machine_json(drivers));
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.err, "Ondelle-Direct: the driver did not start: " + GetParam().chosen + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Names, DirectDriverChoice,
    testing::Values(ChoiceCase{{"USB Audio", "Audio"}, "Audio", "Audio"},
                    ChoiceCase{{"USB Audio 1", "USB Audio 2"}, "USB Audio", "USB Audio 1"},
                    ChoiceCase{{"usb audio", "USB Audio"}, "USB", "USB Audio"},
                    ChoiceCase{{"Line 6 Helix", "USB Audio"}, "usb audio", "USB Audio"},
                    ChoiceCase{{"USB DAC", "usb dac"}, "usb", "usb dac"}));

TEST(DirectCommandLine, PanelWaitsForItsWindowToGo) {
    TempDir dir;
    Program with_panel(dir, direct, {"--driver", "DAC", "--panel"},
                       machine_json({driver_json("DAC", R"(,"panel":true,"panel_ms":1000)")}));
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(with_panel.wait_exit(15s), 0) << with_panel.err();
    const auto took = std::chrono::steady_clock::now() - started;
    // The window shows for a second; it counts as closed after four empty half-second polls.
    EXPECT_GE(took, 2000ms);
    EXPECT_LT(took, 6s);

    const Finished none = run_executable(direct, {"--driver", "DAC", "--panel"},
                                         machine_json({driver_json("DAC", "")}));
    EXPECT_EQ(none.code, 1);
    EXPECT_EQ(none.err, "Ondelle-Direct: no settings window: the driver has none\n");
}

// One program in local mode on one simulated driver, and a sender connected to it.
class DirectStreaming : public testing::Test {
  protected:
    void start(const std::string& driver_extra, std::vector<std::string> arguments = {}) {
        capture = dir.path("capture.raw");
        log = dir.path("driver.log");
        arguments.insert(arguments.begin(), {"--driver", "DAC", "--local"});
        program = std::make_unique<Program>(
            dir, direct, arguments,
            machine_json({driver_json(
                "DAC", R"(,"capture":")" + capture + R"(","log":")" + log + "\"" + driver_extra)}),
            true);
        ASSERT_TRUE(program->wait_for_out("\n")) << program->err();
        const std::string out = program->out();
        ASSERT_EQ(out.rfind("port ", 0), 0u) << out;
        port = std::atoi(out.c_str() + 5);
        connect();
    }

    void connect() {
        sender = std::make_unique<Peer>(Peer::hello(port, hello, &welcome));
        ASSERT_TRUE(sender->connected());
    }

    // Sends one stream in 20 ms frames and waits until the endpoint says it was heard.
    void play(int stream, const std::string& kind, int rate, int bits, const std::string& audio,
              int frame_bytes) {
        ASSERT_TRUE(send_stream(*sender, stream, kind, rate, bits, audio, frame_bytes));
        EXPECT_EQ(sender->read_message("ended", 20s), ended_message(stream)) << program->err();
    }

    void end_with_exit_zero() {
        program->close_input();
        EXPECT_EQ(program->wait_exit(), 0) << program->err();
        for (const auto& line : log_lines(log))
            EXPECT_EQ(line.rfind("wrong thread", 0), std::string::npos) << line;
    }

    TempDir dir;
    std::string capture;
    std::string log;
    int port = 0;
    std::unique_ptr<Program> program;
    std::unique_ptr<Peer> sender;
    std::string welcome;
};

struct TypeCase {
    int type;
    int bits;  // of the stream: the deepest the endpoint offers for that type
};

class DirectSampleTypes : public DirectStreaming, public testing::WithParamInterface<TypeCase> {};

TEST_P(DirectSampleTypes, PlayPcmExactlyAtFullGain) {
    const auto [type, bits] = GetParam();
    start(R"(,"sample_type":)" + std::to_string(type) + R"(,"speed":2)");
    const std::string wire = pattern(std::size_t(44100 / 4) * 2 * std::size_t(bits / 8));
    play(1, "pcm", 44100, bits, wire, 2 * bits / 8);
    expect_played_alone(read_file(capture), driver_samples(samples_of(wire, bits), type));
    EXPECT_TRUE(program->wait_for_err("PCM 44100 " + std::to_string(bits) +
                                      "-bit \xe2\x86\x92 type " + std::to_string(type) +
                                      ", buffer 512\n"));
    end_with_exit_zero();
}

INSTANTIATE_TEST_SUITE_P(Types, DirectSampleTypes,
                         testing::Values(TypeCase{16, 16}, TypeCase{17, 24}, TypeCase{18, 32},
                                         TypeCase{19, 24}, TypeCase{20, 32}, TypeCase{24, 16},
                                         TypeCase{25, 16}, TypeCase{26, 16}, TypeCase{27, 24}),
                         [](const auto& info) { return "Type" + std::to_string(info.param.type); });

struct DsdCase {
    const char* name;
    int sample_type;
    bool reversed;
};

class DirectDsd : public DirectStreaming, public testing::WithParamInterface<DsdCase> {};

TEST_P(DirectDsd, PlaysNativeDsdInTheDriversBitOrder) {
    start(R"(,"dsd":true,"dsd_sample_type":)" + std::to_string(GetParam().sample_type) +
          R"(,"speed":2)");
    const std::string wire = pattern(std::size_t(2822400 / 8 / 4) * 2);
    play(1, "dsd", 2822400, 1, wire, 2);
    std::string expected = wire;
    char silence = 0x69;
    if (GetParam().reversed) {
        for (char& byte : expected) {
            unsigned char reversed = 0;
            for (int bit = 0; bit < 8; ++bit)
                if (static_cast<unsigned char>(byte) & (1 << bit)) reversed |= 0x80 >> bit;
            byte = static_cast<char>(reversed);
        }
        silence = static_cast<char>(0x96);
    }
    expect_played_alone(read_file(capture), expected, silence);
    end_with_exit_zero();
}

INSTANTIATE_TEST_SUITE_P(BitOrders, DirectDsd,
                         testing::Values(DsdCase{"MsbFirst", 33, false},
                                         DsdCase{"LsbFirst", 32, true}),
                         [](const auto& info) { return info.param.name; });

// The buffer switch's requantisation: the minimal standard generator from 12345, two draws
// per sample, triangular dither at the driver's valid bits.
std::string requantised(const std::vector<std::int32_t>& samples, double gain, int type,
                        int valid) {
    std::uint32_t state = 12345;
    const auto next = [](std::uint32_t x) {
        return std::uint32_t(std::uint64_t(48271) * x % 2147483647u);
    };
    std::string out;
    for (const std::int32_t s : samples) {
        const std::uint32_t x1 = next(state);
        const std::uint32_t x2 = next(x1);
        state = x2;
        const double dither = (double(x1 & 0xFFFF) - double(x2 & 0xFFFF)) / 65536.0;
        const double scale = std::ldexp(1.0, 32 - valid);
        double v = std::nearbyint(s * gain / scale + dither);
        v = std::clamp(v, -std::ldexp(1.0, valid - 1), std::ldexp(1.0, valid - 1) - 1);
        out += driver_sample(std::int32_t(std::uint32_t(std::int64_t(v)) << (32 - valid)), type);
    }
    return out;
}

TEST_F(DirectStreaming, SoftwareVolumeStartsAt30WithDitherAndHoldsBackANewSender) {
    start(R"(,"sample_type":27,"dsd":true)", {"--volume", "software"});
    EXPECT_NE(welcome.find(R"("volume":{"kind":"software","value":30,"muted":false})"),
              std::string::npos)
        << welcome;
    EXPECT_EQ(welcome.find("2822400"), std::string::npos) << "no DSD with a gain in the way";
    ASSERT_TRUE(sender->send_json(R"({"t":"volume","value":80})"));
    EXPECT_EQ(sender->read_message("volume"), R"({"t":"volume","value":30,"muted":false})");
    EXPECT_TRUE(program->wait_for_err(
        "Ondelle-Direct: volume 80 from a sender that just connected: kept at 30\n"));

    const std::string wire = pattern(std::size_t(44100 / 5) * 2 * 3);
    play(1, "pcm", 44100, 24, wire, 6);
    const std::string captured = read_file(capture);
    const std::string expected = requantised(samples_of(wire, 24), 0.027, 27, 24);
    EXPECT_NE(captured.find(expected), std::string::npos) << "captured " << captured.size();
    end_with_exit_zero();
}

TEST_F(DirectStreaming, LocalModeEndsWhenItsInputCloses) {
    start(R"(,"speed":2)");
    EXPECT_EQ(program->out(), "port " + std::to_string(port) + "\n");
    const std::string wire = pattern(std::size_t(44100 / 10) * 4);
    play(1, "pcm", 44100, 16, wire, 4);
    expect_played_alone(read_file(capture), driver_samples(samples_of(wire, 16), 18));
    EXPECT_EQ(count_of(log_lines(log), "outputReady"), 1u);
    end_with_exit_zero();
    EXPECT_EQ(program->out(), "port " + std::to_string(port) + "\n");
}

// What the driver was asked, in order: the capability query and its unload before any
// stream; a stream of the format before it reuses mode and rate but makes new buffers;
// release ten seconds after the last stream closed.
TEST_F(DirectStreaming, DriverCallsFollowTheStreams) {
    start(R"(,"speed":2,"dsd":true)", {"--no-output-ready"});
    const std::string wire = pattern(std::size_t(44100 / 10) * 4);
    play(1, "pcm", 44100, 16, wire, 4);
    sender->close();  // the stream's output closes with the sender
    connect();
    play(2, "pcm", 44100, 16, wire, 4);
    sender->close();
    std::this_thread::sleep_for(5s);
    std::vector<std::string> lines = log_lines(log);
    const auto first_release = std::find(lines.begin(), lines.end(), "release");
    ASSERT_NE(first_release, lines.end());
    EXPECT_EQ(std::count(lines.begin(), first_release, "future 0x23112004 dsd"), 1);
    EXPECT_EQ(std::count(lines.begin(), first_release, "createBuffers 2 512"), 0);
    const std::vector<std::string> streams(first_release + 1, lines.end());
    EXPECT_EQ(count_of(streams, "init"), 1u);
    EXPECT_EQ(count_of(streams, "setSampleRate 44100"), 1u);
    EXPECT_EQ(count_of(streams, "createBuffers 2 512"), 2u);
    EXPECT_EQ(count_of(streams, "disposeBuffers"), 2u);
    EXPECT_EQ(count_of(streams, "future 0x23111961 pcm"), 0u);
    EXPECT_EQ(count_of(streams, "outputReady"), 0u);
    EXPECT_EQ(count_of(streams, "release"), 0u) << "still loaded 5 s after the last stream";

    std::this_thread::sleep_for(7s);
    lines = log_lines(log);
    EXPECT_EQ(count_of(lines, "release"), 2u) << "unloaded 12 s after the last stream";
    end_with_exit_zero();
}

struct ResetCase {
    const char* name;
    int reset_after_ms;
    int stream_ms;
};

class DirectReset : public DirectStreaming, public testing::WithParamInterface<ResetCase> {};

// A driver that asks for a reset stops calling back until it is reopened; the stream goes on
// from the ring, also when the player has already written its last audio.
TEST_P(DirectReset, ReopensInPlaceAndPlaysTheStreamWhole) {
    start(R"(,"reset_after_ms":)" + std::to_string(GetParam().reset_after_ms));
    const std::string wire = pattern(std::size_t(44100 * GetParam().stream_ms / 1000) * 4);
    play(1, "pcm", 44100, 16, wire, 4);
    EXPECT_TRUE(program->wait_for_err(
        "Ondelle-Direct: the driver asked for a reset \xe2\x80\x94 reopening\n", 1s));
    expect_played_alone(read_file(capture), driver_samples(samples_of(wire, 16), 18));
    EXPECT_EQ(count_of(log_lines(log), "createBuffers 2 512"), 2u);
    end_with_exit_zero();
}

INSTANTIATE_TEST_SUITE_P(Moments, DirectReset,
                         testing::Values(ResetCase{"MidStream", 300, 1500},
                                         ResetCase{"AfterTheLastWrite", 450, 600}),
                         [](const auto& info) { return info.param.name; });

// A DAC unplugged mid-stream and plugged back: the sender hears of it once, its session
// goes on, streams meanwhile are refused at once, and the driver is found again.
TEST_F(DirectStreaming, ADriverThatWentAwayIsFoundAgain) {
    start(R"(,"removed_after_ms":300,"returns_after_ms":3000)");
    const long threads = proc_status(program->pid(), "Threads");
    const long rss_kib = proc_status(program->pid(), "VmRSS");
    ASSERT_TRUE(sender->send_json(start_message(1, "pcm", 44100, 16)));
    const std::string chunk = pattern(std::size_t(44100 / 50) * 4);
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(sender->send_audio(1, chunk));
    const auto removed = std::chrono::steady_clock::now();
    EXPECT_EQ(sender->read_message("error", 5s),
              R"({"t":"error","code":"device","message":"the output device is gone"})")
        << program->err();
    EXPECT_LT(std::chrono::steady_clock::now() - removed, 3s);
    // The stream cut off is over for the sender too, as is the one refused below.
    EXPECT_EQ(sender->read_message("ended", 2s), ended_message(1));
    ASSERT_TRUE(sender->send_json(R"({"t":"ping"})"));
    EXPECT_TRUE(sender->read_message("pong", 2s));
    ASSERT_TRUE(sender->send_json(start_message(2, "pcm", 44100, 16)));
    EXPECT_EQ(sender->read_message("error", 1s),
              R"({"t":"error","code":"device","message":"the output device is gone"})");
    EXPECT_EQ(sender->read_message("ended", 2s), ended_message(2));
    EXPECT_EQ(proc_status(program->pid(), "Threads"), threads);

    EXPECT_TRUE(program->wait_for_err("Ondelle-Direct: the driver is back\n", 10s))
        << program->err();
    const std::string wire = pattern(std::size_t(44100 / 5) * 4, 3);
    play(3, "pcm", 44100, 16, wire, 4);
    const std::string captured = read_file(capture);
    const std::string expected = driver_samples(samples_of(wire, 16), 18);
    const auto at = captured.find(expected);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(captured.substr(at + expected.size()).find_first_not_of('\0'), std::string::npos);
    // Once the sender has left and its output closed, the driver's own thread is gone too.
    sender->close();
    connect();
    EXPECT_EQ(wait_for_status(program->pid(), "Threads", threads), threads);
    if (!sanitized) {
        EXPECT_LT(proc_status(program->pid(), "VmRSS"), rss_kib + 8 * 1024);
    }
    end_with_exit_zero();
}

TEST_F(DirectStreaming, SigintWhileTheDriverIsGoneEndsWithExitZero) {
    start(R"(,"removed_after_ms":200)");
    ASSERT_TRUE(sender->send_json(start_message(1, "pcm", 44100, 16)));
    const std::string chunk = pattern(std::size_t(44100 / 50) * 4);
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(sender->send_audio(1, chunk));
    EXPECT_TRUE(sender->read_message("error", 5s));
    program->send_signal(SIGINT);
    EXPECT_EQ(program->wait_exit(), 0) << program->err();
}

TEST_F(DirectStreaming, AStalledDriverIsNamedAndShutdownStillEnds) {
    start(R"(,"stall_after_ms":300)");
    ASSERT_TRUE(sender->send_json(start_message(1, "pcm", 44100, 16)));
    const std::string chunk = pattern(std::size_t(44100 / 50) * 4);
    for (int i = 0; i < 150 && sender->send_audio(1, chunk); ++i) {
    }
    const std::string line =
        "Ondelle-Direct: the driver stopped asking for audio (DAC unplugged or off?)\n";
    EXPECT_TRUE(program->wait_for_err(line, 10s)) << program->err();
    std::this_thread::sleep_for(1500ms);
    const std::string err = program->err();
    EXPECT_EQ(err.find(line), err.rfind(line)) << "said once a stall:\n" << err;
    program->send_signal(SIGINT);
    EXPECT_EQ(program->wait_exit(), 0) << program->err();
}

}  // namespace
}  // namespace ondelle::test

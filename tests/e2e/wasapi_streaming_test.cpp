// Streams through ondelle-wasapi onto simulated devices, checked byte for byte against what
// the device consumed, with the volume kinds, the injected device failures and shutdown.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <regex>
#include <thread>

#include "e2e/program.h"
#include "e2e/wire_audio.h"
#include "helpers/peer.h"

namespace ondelle::test {
namespace {

const std::string hello = R"({"t":"hello","proto":2,"sender":{"id":"s1","name":"One"}})";

// Samples of `bytes` wire bytes each, widened into `container` bytes, left-justified.
std::string widen(const std::string& wire, std::size_t bytes, std::size_t container) {
    std::string out;
    for (std::size_t at = 0; at + bytes <= wire.size(); at += bytes)
        out += std::string(container - bytes, '\0') + wire.substr(at, bytes);
    return out;
}

// DSD bytes, one per channel per wire frame, in DoP frames of 24 bits: the later byte low,
// the earlier in the middle, the marker on top, 0x05 and 0xFA by turns.
std::string dop(const std::string& wire, std::size_t container) {
    std::string out;
    for (std::size_t frame = 0; frame + 4 <= wire.size(); frame += 4) {
        const char marker = (frame / 4) % 2 == 0 ? '\x05' : '\xFA';
        for (int channel = 0; channel < 2; ++channel) {
            if (container == 4) out += '\0';
            out += wire[frame + 2 + channel];
            out += wire[frame + channel];
            out += marker;
        }
    }
    return out;
}

std::string device_json(const std::string& extra) {
    return R"({"computer_name":"DEN","render_devices":[{"name":"DAC","default":true,"speed":4)" +
           extra + "}]}";
}

class Streaming : public testing::Test {
  protected:
    void SetUp() override {
        if (!std::getenv("ONDELLE_PRIVATE_NET"))
            GTEST_SKIP() << "the program advertises: run in the private test namespace";
    }

    // Starts the program on one device (speed 4, capturing) with the arguments.
    void start(const std::string& device_extra, std::vector<std::string> arguments = {}) {
        port = free_port();
        capture = dir.path("capture.raw");
        arguments.insert(arguments.end(), {"--port", std::to_string(port)});
        program = std::make_unique<WasapiProgram>(
            dir, arguments, device_json(R"(,"capture":")" + capture + "\"" + device_extra));
        ASSERT_TRUE(program->wait_for_out("Ondelle endpoint")) << program->err();
        sender = std::make_unique<Peer>(Peer::hello(port, hello));
        ASSERT_TRUE(sender->connected());
    }

    // Sends one stream in 20 ms frames and waits until the endpoint says it was heard.
    void play(const std::string& kind, int rate, int bits, const std::string& audio,
              int frame_bytes, int stream = 1) {
        ASSERT_TRUE(send_stream(*sender, stream, kind, rate, bits, audio, frame_bytes));
        EXPECT_EQ(sender->read_message("ended", 20s), ended_message(stream)) << program->err();
    }

    void stop_with_exit_zero() {
        program->send_signal(SIGINT);
        EXPECT_EQ(program->wait_exit(), 0) << program->err();
    }

    TempDir dir;
    int port = 0;
    std::string capture;
    std::unique_ptr<Program> program;
    std::unique_ptr<Peer> sender;
};

struct WelcomeCase {
    const char* name;
    std::string device;
    std::vector<std::string> arguments;
    std::string formats_to_volume;  // the welcome from "formats" to the end of "volume"
    int buffer_ms;
};

class Welcomes : public Streaming, public testing::WithParamInterface<WelcomeCase> {};

TEST_P(Welcomes, DescribeTheDeviceAsProbed) {
    const auto& c = GetParam();
    port = free_port();
    auto arguments = c.arguments;
    arguments.insert(arguments.end(), {"--port", std::to_string(port)});
    program = std::make_unique<WasapiProgram>(dir, arguments, device_json(c.device));
    ASSERT_TRUE(program->wait_for_out("Ondelle endpoint")) << program->err();
    std::string welcome;
    Peer peer = Peer::hello(port, hello, &welcome);
    EXPECT_EQ(welcome,
              R"({"t":"welcome","proto":2,"endpoint":{"id":"ondelle-wasapi-DEN-dac","name":)"
              "\"DEN \xc2\xb7 DAC\""
              R"(,"model":"DAC","vendor":"Windows"},)" +
                  c.formats_to_volume + R"(,"buffer_ms":)" + std::to_string(c.buffer_ms) +
                  R"(,"capabilities":{"native":[],"library":false,"library_sync":false,)"
                  R"("library_private":false,"takeback":false,"handoff":false,"dsp":false,)"
                  R"("transfer":false,"gain":false,"binary":true,"in_use":"One"}})");
    stop_with_exit_zero();
}

INSTANTIATE_TEST_SUITE_P(
    Settings, Welcomes,
    testing::Values(
        WelcomeCase{
            "RatesDepthsDopAndFlac",
            R"(,"rates":[44100,96000,176400],"layouts":["16/16","24/32"])",
            {"--flac", "all", "--dop", "--buffer", "1500"},
            R"("formats":{"pcm":{"rates":[44100,96000,176400],"bits":[16,24],)"
            R"("channels":[2]},"dsd":{"rates":[2822400],"layouts":["u8"]}},)"
            R"("codecs":["pcm","flac"],"volume":{"kind":"hardware","value":100,"muted":false})",
            1500},
        WelcomeCase{"SoftwareVolumeOffersNoDsd",
                    R"(,"rates":[176400],"layouts":["24/24","32/32"],"hardware_volume":false,)"
                    R"("volume":0.42)",
                    {"--dop", "--follow-system"},
                    R"("formats":{"pcm":{"rates":[176400],"bits":[16,24,32],"channels":[2]}},)"
                    R"("codecs":["pcm"],"volume":{"kind":"hardware","value":42,"muted":false})",
                    2000},
        WelcomeCase{"ForwardedFlacForARelayedSender",
                    R"(,"rates":[48000])",
                    {"--flac", "forwarded"},
                    R"("formats":{"pcm":{"rates":[48000],"bits":[16,24,32],"channels":[2]}},)"
                    R"("codecs":["pcm","flac"],"volume":{"kind":"hardware","value":100,)"
                    R"("muted":false})",
                    2000},
        WelcomeCase{"ForwardedFlacIsNotForTheLocalSender",
                    R"(,"rates":[48000])",
                    {"--flac", "forwarded", "--local-sender", "s1"},
                    R"("formats":{"pcm":{"rates":[48000],"bits":[16,24,32],"channels":[2]}},)"
                    R"("codecs":["pcm"],"volume":{"kind":"hardware","value":100,"muted":false})",
                    2000},
        WelcomeCase{"FixedVolume",
                    R"(,"hardware_volume":false,"volume":0.42)",
                    {},
                    R"("formats":{"pcm":{"rates":[44100,48000,88200,96000,176400,192000,352800,)"
                    R"(384000,705600,768000],"bits":[16,24,32],"channels":[2]}},)"
                    R"("codecs":["pcm"],"volume":{"kind":"fixed","value":100,"muted":false})",
                    2000}),
    [](const auto& info) { return info.param.name; });

struct PcmCase {
    const char* name;
    std::string layouts;
    int bits;
    std::size_t container;  // bytes per sample on the device
    std::string line;
};

class PcmStreams : public Streaming, public testing::WithParamInterface<PcmCase> {};

TEST_P(PcmStreams, ReachTheDeviceByteExact) {
    const auto& c = GetParam();
    start(R"(,"rates":[48000],"layouts":)" + c.layouts);
    const int sample_bytes = c.bits / 8;
    const std::string audio = pattern(48000 / 2 * 2 * sample_bytes);  // half a second
    play("pcm", 48000, c.bits, audio, 2 * sample_bytes);
    stop_with_exit_zero();
    expect_played_alone(read_file(capture), widen(audio, sample_bytes, c.container));
    EXPECT_NE(program->err().find(c.line), std::string::npos) << program->err();
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, PcmStreams,
    testing::Values(
        PcmCase{"SixteenInSixteen", R"(["16/16"])", 16, 2,
                "ondelle-wasapi: PCM 48000 Hz 16-bit \xe2\x86\x92 16-in-16 (buffer 480 frames)\n"},
        PcmCase{"SixteenWidenedToTwentyFourInThirtyTwo", R"(["24/32"])", 16, 4,
                "PCM 48000 Hz 16-bit \xe2\x86\x92 24-in-32 (buffer 480 frames)\n"},
        PcmCase{"TwentyFourInTwentyFour", R"(["16/16","24/24"])", 24, 3,
                "PCM 48000 Hz 24-bit \xe2\x86\x92 24-in-24"},
        PcmCase{"ThirtyTwoInThirtyTwo", R"(["24/32","32/32"])", 32, 4,
                "PCM 48000 Hz 32-bit \xe2\x86\x92 32-in-32"}),
    [](const auto& info) { return info.param.name; });

TEST_F(Streaming, DsdTravelsAsDopWithAlternatingMarkers) {
    start(R"(,"rates":[176400],"layouts":["24/24"])", {"--dop"});
    const std::string audio = pattern(2822400 / 8 / 2 * 2);  // half a second, two channels
    play("dsd", 2822400, 1, audio, 2);
    stop_with_exit_zero();
    const std::string expected = dop(audio, 3);
    expect_played_alone(read_file(capture), expected);
    EXPECT_NE(program->err().find("ondelle-wasapi: DSD64 \xe2\x86\x92 DoP 24-in-24 at 176400 Hz\n"),
              std::string::npos)
        << program->err();
}

TEST_F(Streaming, SharedModeGoesThroughTheMixer) {
    start(R"(,"mix_rate":44100)", {"--mix"});
    const std::string audio = pattern(44100 / 2 * 4);
    play("pcm", 44100, 16, audio, 4);
    stop_with_exit_zero();
    expect_played_alone(read_file(capture), audio);
    EXPECT_NE(program->err().find("16-in-16 (buffer 4410 frames, Windows' mixer)"),
              std::string::npos)
        << program->err();
}

struct GainCase {
    const char* name;
    std::string device;
    double gain;
};

class SoftwareVolume : public Streaming, public testing::WithParamInterface<GainCase> {};

TEST_P(SoftwareVolume, ScalesTwentyFourBitSamplesInThirtyTwo) {
    const auto& c = GetParam();
    start(R"(,"rates":[48000],"layouts":["24/32"],"hardware_volume":false)" + c.device,
          {"--follow-system"});
    std::string audio;
    const std::int32_t value = 0x7FFFFF;  // full scale, then its negative
    for (int i = 0; i < 48000 / 2; ++i)
        for (const std::int32_t sample : {value, -value}) {
            audio += char(sample & 0xFF);
            audio += char((sample >> 8) & 0xFF);
            audio += char((sample >> 16) & 0xFF);
        }
    play("pcm", 48000, 24, audio, 6);
    stop_with_exit_zero();
    const std::string captured = read_file(capture);
    std::size_t loud = 0;
    for (std::size_t at = 0; at + 4 <= captured.size(); at += 4) {
        std::int32_t sample;
        std::memcpy(&sample, captured.data() + at, 4);
        EXPECT_EQ(sample & 0xFF, 0) << "the low byte of 24-in-32 stays empty";
        const double expected = (sample < 0 ? -value : value) * c.gain;
        if (sample == 0) continue;
        ++loud;
        EXPECT_NEAR(sample >> 8, expected, 1.5);
    }
    EXPECT_EQ(loud, c.gain > 0 ? 48000u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Levels, SoftwareVolume,
                         testing::Values(GainCase{"Half", R"(,"volume":0.5)", 0.5},
                                         GainCase{"Muted", R"(,"muted":true)", 0.0}),
                         [](const auto& info) { return info.param.name; });

TEST_F(Streaming, SenderThatJustConnectedCannotRaiseTheVolume) {
    start(R"(,"volume":0.3)");
    ASSERT_TRUE(sender->send_json(R"({"t":"volume","value":80})"));
    EXPECT_EQ(sender->read_message("volume"), R"({"t":"volume","value":30,"muted":false})");
    EXPECT_TRUE(program->wait_for_err(
        "ondelle-wasapi: volume 80 from a sender that just connected: kept at 30\n"));
    // Muting is always allowed; a raise while muted is then refused naming the mute.
    ASSERT_TRUE(sender->send_json(R"({"t":"volume","muted":true})"));
    ASSERT_TRUE(sender->send_json(R"({"t":"volume","value":20})"));
    EXPECT_TRUE(program->wait_for_err(
        "ondelle-wasapi: volume 20 from a sender that just connected: kept at 30 muted\n"));
    stop_with_exit_zero();
}

TEST_F(Streaming, VolumeChangedInWindowsReachesTheSender) {
    start(R"(,"volume":0.3,"volume_changes":[{"after_ms":1500,"volume":0.6}])");
    EXPECT_EQ(sender->read_message("volume", 5s), R"({"t":"volume","value":60,"muted":false})");
    stop_with_exit_zero();
}

TEST_F(Streaming, ExclusiveFailureReachesTheSenderAsDeviceError) {
    start(R"(,"initialize_error":"0x8889000a","initialize_error_count":1)");
    ASSERT_TRUE(sender->send_json(start_message(1, "pcm", 44100, 16)));
    ASSERT_TRUE(sender->send_audio(1, pattern(44100 / 50 * 4)));
    EXPECT_EQ(sender->read_message("error"),
              R"j({"t":"error","code":"device","message":"exclusive mode failed (0x8889000a)"})j");
    stop_with_exit_zero();
}

TEST_F(Streaming, MisalignedBufferIsRetriedWithTheAlignedPeriod) {
    start(R"(,"rates":[44100],"layouts":["16/16"],"misaligned_once":true)");
    const std::string audio = pattern(44100 / 2 * 4);
    play("pcm", 44100, 16, audio, 4);
    stop_with_exit_zero();
    expect_played_alone(read_file(capture), audio);
    // 10 ms at 44100 Hz is 441 frames; the driver wants whole blocks of 128.
    EXPECT_NE(program->err().find("16-in-16 (buffer 512 frames)"), std::string::npos)
        << program->err();
}

TEST_F(Streaming, StalledDeviceIsReportedOnceAfterTwoSeconds) {
    start(R"(,"stall_after_ms":100)");
    ASSERT_TRUE(sender->send_json(start_message(1, "pcm", 44100, 16)));
    for (int i = 0; i < 25; ++i)
        ASSERT_TRUE(sender->send_audio(1, pattern(44100 / 50 * 4)));
    const std::string line =
        "ondelle-wasapi: the device asked for no samples for 2 s while playing (its driver "
        "stopped)\n";
    EXPECT_TRUE(program->wait_for_err(line, 15s));
    std::this_thread::sleep_for(2500ms);
    const std::string err = program->err();
    EXPECT_EQ(err.find(line), err.rfind(line)) << "printed once";
    stop_with_exit_zero();
}

// What a log file keeps: every line stamped with the local time, and who came, played, took
// over and left.
TEST_F(Streaming, TheLogFileStampsEveryLineAndTellsWhoCameAndWent) {
    const std::string log = dir.path("endpoint.log");
    start("", {"--log", log});
    play("pcm", 44100, 16, pattern(44100 / 10 * 4), 4);
    {
        Peer second =
            Peer::hello(port, R"({"t":"hello","proto":2,"sender":{"id":"s2","name":"Two"}})");
        ASSERT_TRUE(second.connected());
        EXPECT_TRUE(sender->read_message("stopped", 5s));
    }
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (read_file(log).find("sender left: Two") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    stop_with_exit_zero();

    const std::string text = read_file(log);
    std::vector<std::string> lines;
    for (std::size_t at = text.find('\n', 1) + 1; at < text.size();) {
        const auto end = text.find('\n', at);
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    ASSERT_FALSE(lines.empty()) << text;
    const std::regex stamped(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} ondelle-wasapi: .*)");
    for (const auto& line : lines)
        EXPECT_TRUE(std::regex_match(line, stamped)) << line;
    for (const std::string said :
         {"ondelle-wasapi: sender: One", "ondelle-wasapi: stream 1 ended",
          "ondelle-wasapi: sender One taken over by Two", "ondelle-wasapi: sender left: Two"})
        EXPECT_NE(text.find(said + "\n"), std::string::npos) << said << " in\n" << text;
    EXPECT_EQ(program->err(), "") << "the console keeps nothing once the log is open";
}

// A DAC unplugged mid-stream and plugged back: the sender hears of it once, its session goes
// on, streams meanwhile are refused at once, and the device is found again by its identifier.
TEST_F(Streaming, ADeviceThatWentAwayIsFoundAgain) {
    start(R"(,"removed_after_ms":300,"returns_after_ms":3000)");
    const long threads = proc_status(program->pid(), "Threads");
    const long rss_kib = proc_status(program->pid(), "VmRSS");
    ASSERT_TRUE(sender->send_json(start_message(1, "pcm", 44100, 16)));
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(sender->send_audio(1, pattern(44100 / 50 * 4)));
    const auto sent = std::chrono::steady_clock::now();
    const std::string gone =
        R"({"t":"error","code":"device","message":"the output device is gone"})";
    EXPECT_EQ(sender->read_message("error", 5s), gone) << program->err();
    EXPECT_LT(std::chrono::steady_clock::now() - sent, 3s);
    // The stream cut off is over for the sender too, as is the one refused below.
    EXPECT_EQ(sender->read_message("ended", 2s), ended_message(1));
    ASSERT_TRUE(sender->send_json(R"({"t":"ping"})"));
    EXPECT_TRUE(sender->read_message("pong", 2s));
    ASSERT_TRUE(sender->send_json(start_message(2, "pcm", 44100, 16)));
    ASSERT_TRUE(sender->send_audio(2, pattern(44100 / 50 * 4)));
    EXPECT_EQ(sender->read_message("error", 1s), gone);
    EXPECT_EQ(sender->read_message("ended", 2s), ended_message(2));
    EXPECT_TRUE(program->wait_for_err("ondelle-wasapi: the output device is gone\n", 1s));

    EXPECT_TRUE(program->wait_for_err("ondelle-wasapi: the output device is back\n", 10s))
        << program->err();
    const std::string audio = pattern(48000 / 5 * 6, 7);
    play("pcm", 48000, 24, audio, 6, 3);
    const std::string captured = read_file(capture);
    const std::string expected = widen(audio, 3, 3);
    const auto at = captured.find(expected);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(captured.substr(at + expected.size()).find_first_not_of('\0'), std::string::npos);
    // Once the sender has left and the output closed, the stream's threads are gone.
    sender->close();
    sender = std::make_unique<Peer>(Peer::hello(port, hello));
    EXPECT_EQ(wait_for_status(program->pid(), "Threads", threads), threads);
    if (!sanitized) {
        EXPECT_LT(proc_status(program->pid(), "VmRSS"), rss_kib + 8 * 1024);
    }
    stop_with_exit_zero();
}

TEST_F(Streaming, SignalWhileTheDeviceIsGoneEndsCleanly) {
    start(R"(,"removed_after_ms":200)");
    ASSERT_TRUE(sender->send_json(start_message(1, "pcm", 44100, 16)));
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(sender->send_audio(1, pattern(44100 / 50 * 4)));
    EXPECT_TRUE(sender->read_message("error", 5s));
    stop_with_exit_zero();
}

TEST_F(Streaming, SignalWhilePlayingEndsCleanly) {
    start("");
    ASSERT_TRUE(sender->send_json(start_message(1, "pcm", 96000, 24)));
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(sender->send_audio(1, pattern(96000 / 50 * 6)));
    ASSERT_TRUE(program->wait_for_err("PCM 96000 Hz 24-bit"));
    stop_with_exit_zero();
    EXPECT_TRUE(sender->wait_closed());
}

}  // namespace
}  // namespace ondelle::test

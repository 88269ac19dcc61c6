// The Windows executables as users run them, under Wine: ondelle-wasapi.exe on Wine's one
// render device (its audio goes to ALSA, which writes it to a file here), and
// Ondelle-Direct.exe on a test ASIO driver of our own. Wine runs in a prefix of our own in
// the build folder, inside the private network namespace of the test script.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <thread>

#include "e2e/wire_audio.h"
#include "json.h"
#include "windows/wine_harness.h"

namespace ondelle::test {
namespace {

TEST_F(UnderWine, WasapiListsWineDeviceAndRefusesBadArguments) {
    auto list = start(wasapi_exe(), {"--list"});
    ASSERT_EQ(list->wait_exit(30s), 0) << list->err();
    const std::string out = without_cr(list->out());
    EXPECT_EQ(out.rfind("Out: default\n    PCM  44100 Hz: 16-in-16 24-in-24 32-in-32\n", 0), 0u)
        << out;
    auto usage = start(wasapi_exe(), {"--bogus"});
    EXPECT_EQ(usage->wait_exit(30s), 2);
    EXPECT_EQ(without_cr(usage->err())
                  .rfind("ondelle-wasapi: unknown option --bogus\nusage: ondelle-wasapi", 0),
              0u)
        << usage->err();
    auto unknown = start(wasapi_exe(), {"--device", "Nope"});
    EXPECT_EQ(unknown->wait_exit(30s), 1);
    EXPECT_NE(without_cr(unknown->err()).find("ondelle-wasapi: no output device \"Nope\""),
              std::string::npos)
        << unknown->err();
}

// Wine has no exclusive event-driven mode: a default start serves and advertises, and every
// stream gets the device error while the endpoint goes on.
TEST_F(UnderWine, WasapiAdvertisesAndReportsExclusiveModeFailure) {
    const int port = free_port();
    auto program = start(wasapi_exe(), {"--port", std::to_string(port)});
    ASSERT_TRUE(program->wait_for_out("Ondelle endpoint", 30s)) << program->err();
    const std::string wanted = ":" + std::to_string(port) + "  Out: default";
    const std::string found = endpoints_found(wanted);
    EXPECT_NE(found.find(wanted), std::string::npos) << found;

    Peer sender = Peer::hello(port, hello);
    ASSERT_TRUE(sender.connected());
    ASSERT_TRUE(sender.send_json(start_message(1, "pcm", 44100, 16)));
    ASSERT_TRUE(sender.send_audio(1, pattern(44100 / 50 * 4)));
    EXPECT_EQ(
        sender.read_message("error", 10s),
        R"json({"t":"error","code":"device","message":"exclusive mode failed (0x8889000a)"})json");
    ASSERT_TRUE(sender.send_json(R"({"t":"ping"})"));
    EXPECT_TRUE(sender.read_message("pong", 5s));
    program->send_signal(SIGINT);
    EXPECT_EQ(program->wait_exit(20s), 0) << program->err();
}

// Through Wine's mixer, which opens ALSA in the stream's own format at its rate.
TEST_F(UnderWine, WasapiMixPlaysEveryDepthByteExact) {
    const int port = free_port();
    const std::string log = dir.path("endpoint.log");
    auto program =
        start(wasapi_exe(), {"--mix", "--port", std::to_string(port), "--log", windows_path(log)});
    ASSERT_TRUE(program->wait_for_out("Ondelle endpoint", 30s)) << program->err();
    Peer sender = Peer::hello(port, hello);
    ASSERT_TRUE(sender.connected());
    struct Depth {
        int bits;
        const char* file;
    };
    int stream = 0;
    for (const Depth depth :
         {Depth{16, "play-48000-2-16-S16_LE.raw"}, Depth{24, "play-48000-2-24-S24_3LE.raw"},
          Depth{32, "play-48000-2-32-S32_LE.raw"}}) {
        SCOPED_TRACE(depth.bits);
        const std::string audio = pattern(std::size_t(48000 / 4) * 2 * depth.bits / 8, depth.bits);
        play(sender, ++stream, "pcm", 48000, depth.bits, audio, 2 * depth.bits / 8);
        ASSERT_TRUE(sender.send_json(R"({"t":"stop"})"));  // closes the output and its file
        std::this_thread::sleep_for(300ms);
        const auto files = alsa_files();
        const auto file = files.find(depth.file);
        ASSERT_NE(file, files.end()) << "ALSA files: " << files.size();
        expect_played_alone(file->second, audio);
    }
    // And a signal while a stream plays.
    ASSERT_TRUE(sender.send_json(start_message(++stream, "pcm", 48000, 16)));
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(sender.send_audio(stream, pattern(48000 / 50 * 4)));
    std::this_thread::sleep_for(500ms);  // its lines go to the log file, not to standard error
    program->send_signal(SIGINT);
    EXPECT_EQ(program->wait_exit(20s), 0);
    EXPECT_NE(without_cr(read_file(log))
                  .find("=== ondelle-wasapi \"\" port " + std::to_string(port) + " started "),
              std::string::npos)
        << read_file(log);
}

// What --help and --version print on Windows is what they print here.
TEST_F(UnderWine, BothProgramsAnswerHelpAndVersion) {
    for (const auto& [exe, native] : {std::pair{wasapi_exe(), std::string(ONDELLE_WASAPI_PATH)},
                                      std::pair{direct_exe(), std::string(ONDELLE_DIRECT_PATH)}}) {
        for (const std::string option : {"--help", "--version"}) {
            auto run = start(exe, {option});
            EXPECT_EQ(run->wait_exit(30s), 0) << run->err();
            // The version's commit is read when each build is configured: compare the rest.
            const std::string out = without_cr(run->out());
            const std::string expected = run_executable(native, {option}).out;
            EXPECT_EQ(out.substr(0, out.find(" (")), expected.substr(0, expected.find(" (")))
                << exe;
        }
    }
}

TEST_F(UnderWine, TheTestDriverLoadsThroughComAlone) {
    Program check(dir, wine, {mingw_build() + "/tests/windows/asio_load_check.exe"});
    EXPECT_EQ(check.wait_exit(30s), 0) << check.out() << check.err();
    EXPECT_EQ(without_cr(check.out()), "Ondelle Test DAC: ready, 2 outputs\n");
}

TEST_F(UnderWine, DirectListsTheDriver) {
    ::setenv("ONDELLE_TEST_ASIO_DSD", "1", 1);
    auto list = start(direct_exe(), {"--list"});
    ASSERT_EQ(list->wait_exit(30s), 0) << list->err();
    EXPECT_EQ(without_cr(list->out()),
              "Ondelle Test DAC\n"
              "    PCM: 44100 48000 88200 96000 176400 192000  (sample type 18)\n"
              "    native DSD: DSD64 DSD128  (MSB-first)\n");
}

struct DirectCase {
    const char* name;
    int type;
    std::string kind;
    int rate;
    int bits;
};

class DirectUnderWine : public UnderWine, public testing::WithParamInterface<DirectCase> {};

// The driver's layout of what it was handed: 24 bits in three bytes, 32 in four; DSD as is.
std::string driver_bytes(const std::string& wire, const DirectCase& c) {
    if (c.kind == "dsd" || c.type == 18) {
        if (c.kind == "dsd" || c.bits == 32) return wire;
        std::string out;  // 24-bit wire samples, left-justified in 32 bits
        for (std::size_t at = 0; at + 3 <= wire.size(); at += 3)
            out += '\0' + wire.substr(at, 3);
        return out;
    }
    return wire;  // type 17 holds the top 24 bits, which is the 24-bit wire sample
}

TEST_P(DirectUnderWine, LocalModePlaysByteExactAndEndsWithItsInput) {
    const DirectCase& c = GetParam();
    ::setenv("ONDELLE_TEST_ASIO_TYPE", std::to_string(c.type).c_str(), 1);
    ::setenv("ONDELLE_TEST_ASIO_DSD", "1", 1);
    auto program = start(direct_exe(), {"--driver", "Ondelle Test", "--local"}, true);
    ASSERT_TRUE(program->wait_for_out("\n", 30s)) << program->err();
    const std::string out = without_cr(program->out());
    ASSERT_EQ(out.rfind("port ", 0), 0u) << out;
    Peer sender = Peer::hello(std::atoi(out.c_str() + 5), hello);
    ASSERT_TRUE(sender.connected());
    const int frame_bytes = c.kind == "dsd" ? 2 : 2 * c.bits / 8;
    const std::string wire =
        pattern(std::size_t(c.kind == "dsd" ? c.rate / 8 : c.rate) / 4 * frame_bytes, c.type);
    play(sender, 1, c.kind, c.rate, c.bits, wire, frame_bytes);
    program->close_input();
    EXPECT_EQ(program->wait_exit(20s), 0) << program->err();
    expect_played_alone(read_file(dir.path("asio.raw")), driver_bytes(wire, c),
                        c.kind == "dsd" ? '\x69' : '\0');
}

INSTANTIATE_TEST_SUITE_P(Formats, DirectUnderWine,
                         testing::Values(DirectCase{"Int32", 18, "pcm", 44100, 24},
                                         DirectCase{"Int24", 17, "pcm", 96000, 24},
                                         DirectCase{"Dsd64", 18, "dsd", 2822400, 1}),
                         [](const auto& info) { return info.param.name; });

TEST_F(UnderWine, DirectReopensOnAResetRequestAndPlaysOn) {
    ::setenv("ONDELLE_TEST_ASIO_RESET_MS", "300", 1);
    auto program = start(direct_exe(), {"--driver", "Ondelle Test", "--local"}, true);
    ASSERT_TRUE(program->wait_for_out("\n", 30s)) << program->err();
    Peer sender = Peer::hello(std::atoi(without_cr(program->out()).c_str() + 5), hello);
    ASSERT_TRUE(sender.connected());
    const std::string wire = pattern(44100 * 4, 9);  // one second of 16-bit stereo
    play(sender, 1, "pcm", 44100, 16, wire, 4);
    EXPECT_NE(program->err().find("the driver asked for a reset \xe2\x80\x94 reopening"),
              std::string::npos)
        << program->err();
    std::string expected;
    for (std::size_t at = 0; at + 2 <= wire.size(); at += 2)
        expected += std::string(2, '\0') + wire.substr(at, 2);
    expect_played_alone(read_file(dir.path("asio.raw")), expected);
    program->close_input();
    EXPECT_EQ(program->wait_exit(20s), 0);
}

// Streams too short to start the driver on their own, a format change right after one, many
// tiny streams and alternating rates: each is heard whole and told "ended" in order, and the
// underrun count does not move once the last has ended.
TEST_F(UnderWine, DirectTellsEveryEndAndPlaysShortStreamsWhole) {
    ::setenv("ONDELLE_TEST_ASIO_TYPE", "16", 1);  // 16-bit samples: the capture is the wire audio
    auto program = start(direct_exe(), {"--driver", "Ondelle Test", "--local"}, true);
    ASSERT_TRUE(program->wait_for_out("\n", 30s)) << program->err();
    Peer sender = Peer::hello(std::atoi(without_cr(program->out()).c_str() + 5), hello);
    ASSERT_TRUE(sender.connected());
    std::vector<std::string> heard_in_order;
    int stream = 0;
    const auto send = [&](int rate, std::size_t frames) {
        heard_in_order.push_back(pattern(frames * 4, ++stream));
        ASSERT_TRUE(send_stream(sender, stream, "pcm", rate, 16, heard_in_order.back(), 4));
    };
    const auto expect_ended = [&](int first) {
        for (int s = first; s <= stream; ++s)
            ASSERT_EQ(sender.read_message("ended", 10s), ended_message(s)) << program->err();
    };
    send(44100, 100);  // alone
    expect_ended(stream);
    send(48000, 440);  // followed at once by another rate
    send(44100, 2000);
    expect_ended(stream - 1);
    for (int i = 0; i < 10; ++i)
        send(i % 2 ? 44100 : 48000, 1500);
    expect_ended(stream - 9);
    const int first_tiny = stream + 1;
    for (int i = 0; i < 1000; ++i) {
        ++stream;
        ASSERT_TRUE(send_stream(sender, stream, "pcm", 48000, 16, pattern(4, stream), 4));
    }
    expect_ended(first_tiny);

    const auto underruns = [&]() -> long {
        const auto status = sender.read_message("status", 2s);
        if (!status) return -1;
        Json json;
        parse_json(*status, json);
        return long(json.get("underruns").as_int(-1));
    };
    const long after_end = underruns();
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(underruns(), after_end);
    program->close_input();
    EXPECT_EQ(program->wait_exit(20s), 0) << program->err();

    const std::string captured = read_file(dir.path("asio.raw"));
    std::size_t from = 0;
    for (std::size_t i = 0; i < heard_in_order.size(); ++i) {
        const auto at = captured.find(heard_in_order[i], from);
        ASSERT_NE(at, std::string::npos) << "stream " << i + 1;
        EXPECT_EQ(captured.substr(from, at - from).find_first_not_of('\0'), std::string::npos);
        from = at + heard_in_order[i].size();
    }
}

TEST_F(UnderWine, DirectAdvertisesAndEndsOnSigint) {
    const int port = free_port();
    auto program =
        start(direct_exe(), {"--driver", "Ondelle Test", "--port", std::to_string(port)});
    ASSERT_TRUE(program->wait_for_out("Ondelle endpoint", 30s)) << program->err();
    EXPECT_NE(
        without_cr(program->out()).find(" on port " + std::to_string(port) + " (volume fixed)\n"),
        std::string::npos);
    const std::string wanted = ":" + std::to_string(port) + "  Ondelle Test DAC";
    const std::string found = endpoints_found(wanted);
    EXPECT_NE(found.find(wanted), std::string::npos) << found;
    program->send_signal(SIGINT);
    EXPECT_EQ(program->wait_exit(20s), 0) << program->err();
}

}  // namespace
}  // namespace ondelle::test

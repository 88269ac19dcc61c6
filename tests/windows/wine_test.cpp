// The Windows executables as users run them, under Wine: ondelle-wasapi.exe on Wine's one
// render device (its audio goes to ALSA, which writes it to a file here), and
// Ondelle-Direct.exe on a test ASIO driver of our own. Wine runs in a prefix of our own in
// the build folder, inside the private network namespace of the test script.
//
// Wine ends every line a program writes with CRLF; lines are compared without the CR.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <thread>

#include "e2e/program.h"
#include "e2e/wire_audio.h"
#include "helpers/peer.h"
#include "json.h"

namespace ondelle::test {
namespace {

const std::string wine = "/usr/lib/wine/wine64";
const std::string driver_clsid = "{6F6E6465-6C6C-6554-6573-744153494F31}";
const std::string hello = R"({"t":"hello","proto":2,"sender":{"id":"w","name":"Wine test"}})";

std::string mingw_build() {
    const char* folder = std::getenv("ONDELLE_MINGW_BUILD");
    return folder && *folder ? folder : ONDELLE_DEFAULT_MINGW_BUILD;
}
std::string wasapi_exe() {
    return mingw_build() + "/wasapi/ondelle-wasapi.exe";
}
std::string direct_exe() {
    return mingw_build() + "/direct/Ondelle-Direct.exe";
}

std::string without_cr(std::string text) {
    std::erase(text, '\r');
    return text;
}

// Z:\ is the Unix root in every Wine prefix.
std::string windows_path(const std::string& unix_path) {
    std::string path = "Z:" + unix_path;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// What ondelle-send --list finds; asked a few times, as an endpoint that has just started
// may still be announcing itself.
std::string endpoints_found(const std::string& wanted) {
    std::string out;
    for (int attempt = 0; attempt < 3 && out.find(wanted) == std::string::npos; ++attempt)
        out = run_executable(ONDELLE_SEND_PATH, {"--list"}).out;
    return out;
}

int run_wine(const TempDir& dir, const std::vector<std::string>& arguments,
             std::chrono::milliseconds timeout = 60s) {
    Program program(dir, wine, arguments);
    return program.wait_exit(timeout);
}

// One prefix for the whole run, with the test driver registered; its server is stopped at
// the end.
class WineEnvironment : public testing::Environment {
  public:
    void SetUp() override {
        const char* folder = std::getenv("ONDELLE_WINE_DIR");
        root_ = folder && *folder ? folder : ONDELLE_DEFAULT_WINE_DIR;
        std::filesystem::create_directories(root_);
        ::setenv("WINEPREFIX", (root_ + "/prefix").c_str(), 1);
        ::setenv("WINEDEBUG", "-all", 1);
        ::setenv("HOME", root_.c_str(), 1);
        TempDir dir;
        if (!std::filesystem::exists(root_ + "/prefix/system.reg")) {
            ASSERT_EQ(run_wine(dir, {"wineboot", "-i"}, 120s), 0) << "the prefix could not be made";
        }
        const std::string driver =
            windows_path(mingw_build() + "/tests/windows/test_asio_driver.dll");
        const std::string server = "HKCR\\CLSID\\" + driver_clsid + "\\InprocServer32";
        for (const std::vector<std::string>& add :
             {std::vector<std::string>{"reg", "add", "HKLM\\SOFTWARE\\ASIO\\Ondelle Test DAC", "/v",
                                       "CLSID", "/t", "REG_SZ", "/d", driver_clsid, "/f"},
              {"reg", "add", server, "/ve", "/t", "REG_SZ", "/d", driver, "/f"},
              {"reg", "add", server, "/v", "ThreadingModel", "/t", "REG_SZ", "/d", "Apartment",
               "/f"}})
            ASSERT_EQ(run_wine(dir, add), 0) << "registering the test driver";
    }
    void TearDown() override {
        TempDir dir;
        Program(dir, "/usr/lib/wine/wineserver", {"-k"}).wait_exit(10s);
    }

  private:
    std::string root_;
};

const auto* const environment = testing::AddGlobalTestEnvironment(new WineEnvironment);

// Each test has its own folder and, through HOME, its own ALSA configuration: Wine's audio
// goes to ALSA's default PCM, made here a file of what was played (named by the rate,
// channels, bits and sample format Wine opened) over the null device.
class UnderWine : public testing::Test {
  protected:
    void SetUp() override {
        if (!std::getenv("ONDELLE_PRIVATE_NET"))
            GTEST_SKIP() << "the programs advertise: run in the private test namespace";
        captures = dir.path("alsa");
        std::filesystem::create_directories(captures);
        write_file(dir.path(".asoundrc"),
                   "pcm.!default {\n"
                   "    type file\n"
                   "    slave.pcm \"null\"\n"
                   "    file \"" +
                       captures +
                       "/play-%r-%c-%b-%f.raw\"\n"
                       "    format \"raw\"\n"
                       "    truncate false\n"
                       "}\n");
        ::setenv("HOME", dir.path("").c_str(), 1);
        ::unsetenv("ONDELLE_TEST_ASIO_TYPE");
        ::unsetenv("ONDELLE_TEST_ASIO_DSD");
        ::unsetenv("ONDELLE_TEST_ASIO_RESET_MS");
        ::setenv("ONDELLE_TEST_ASIO_CAPTURE", dir.path("asio.raw").c_str(), 1);
    }

    std::unique_ptr<Program> start(const std::string& exe, std::vector<std::string> arguments,
                                   bool input_pipe = false) {
        arguments.insert(arguments.begin(), exe);
        return std::make_unique<Program>(dir, wine, arguments, "", input_pipe);
    }

    // Every file ALSA wrote, by name.
    std::map<std::string, std::string> alsa_files() const {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(captures))
            files[entry.path().filename().string()] = read_file(entry.path().string());
        return files;
    }

    // Sends one stream in 20 ms frames and waits until the endpoint says it was heard.
    static void play(Peer& sender, int stream, const std::string& kind, int rate, int bits,
                     const std::string& audio, int frame_bytes) {
        ASSERT_TRUE(send_stream(sender, stream, kind, rate, bits, audio, frame_bytes));
        EXPECT_EQ(sender.read_message("ended", 20s), ended_message(stream));
    }

    TempDir dir;
    std::string captures;
};

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

// What "sc query NAME" says of the service's state ("RUNNING", "STOPPED", ...), or "" when
// it has none.
std::string service_state(const TempDir& dir, const std::string& name) {
    Program query(dir, wine, {"sc", "query", name});
    query.wait_exit(30s);
    const std::string out = without_cr(query.out());
    for (const char* state : {"START_PENDING", "STOP_PENDING", "RUNNING", "STOPPED"})
        if (out.find(state) != std::string::npos) return state;
    return "";
}

bool wait_for_service_state(const TempDir& dir, const std::string& name, const std::string& state,
                            std::chrono::seconds timeout = 30s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (service_state(dir, name) == state) return true;
        std::this_thread::sleep_for(200ms);
    }
    return false;
}

// A program installed as a service by itself, started and stopped by sc, and removed again.
// The service manager starts a service with its own environment, made when the Wine server
// starts: the server is started afresh here so that it has this test's HOME (and so its
// ALSA configuration). Wine ends its services once no other program runs in the prefix, so
// a console waits on its input meanwhile.
class ServiceUnderWine : public UnderWine {
  protected:
    void SetUp() override {
        UnderWine::SetUp();
        if (IsSkipped()) return;
        Program(dir, "/usr/lib/wine/wineserver", {"-k"}).wait_exit(10s);
        Program(dir, "/usr/lib/wine/wineserver", {"-w"}).wait_exit(10s);
        keeper_ = start("cmd", {}, true);
    }
    void TearDown() override {
        if (!keeper_) return;
        keeper_->close_input();
        keeper_->wait_exit(30s);
    }

    // Installs it with the program's own options, starts it, runs what the test does with
    // it while it runs, stops it and removes it; its log is the test's "service.log".
    void run_service(const std::string& exe, std::vector<std::string> options,
                     const std::function<void()>& while_running) {
        const std::string log = dir.path("service.log");
        options.insert(options.begin(), "--install-service");
        for (const std::string& more :
             {std::string("--service-name"), name, std::string("--log"), windows_path(log)})
            options.push_back(more);
        auto install = start(exe, options);
        ASSERT_EQ(install->wait_exit(60s), 0) << install->err() << install->out();
        EXPECT_NE(without_cr(install->out()).find("service \"" + name + "\" installed: \""),
                  std::string::npos)
            << install->out();
        EXPECT_FALSE(std::filesystem::exists(log)) << "the install wrote to the service's log";

        ASSERT_EQ(run_wine(dir, {"sc", "start", name}), 0);
        ASSERT_TRUE(wait_for_service_state(dir, name, "RUNNING")) << read_file(log);
        while_running();

        EXPECT_EQ(run_wine(dir, {"sc", "stop", name}), 0);
        EXPECT_TRUE(wait_for_service_state(dir, name, "STOPPED")) << read_file(log);
        Program query(dir, wine, {"sc", "query", name});
        query.wait_exit(30s);
        EXPECT_NE(without_cr(query.out()).find("WIN32_EXIT_CODE    : 0"), std::string::npos)
            << query.out();

        auto uninstall = start(exe, {"--uninstall-service", "--service-name", name});
        EXPECT_EQ(uninstall->wait_exit(60s), 0) << uninstall->err();
        EXPECT_EQ(service_state(dir, name), "");
        EXPECT_NE(read_file(log).find("sender: Wine test"), std::string::npos) << read_file(log);
    }

    const std::string name = "Ondelle Test Service";
    const int port = free_port();

  private:
    std::unique_ptr<Program> keeper_;
};

// Through Wine's mixer into the ALSA file, as on the console.
TEST_F(ServiceUnderWine, WasapiPlaysByteExactUntilScStopsIt) {
    const std::string audio = pattern(std::size_t(48000 / 4) * 4, 12);
    run_service(wasapi_exe(), {"--mix", "--port", std::to_string(port)}, [&] {
        const std::string wanted = ":" + std::to_string(port) + "  Out: default";
        EXPECT_NE(endpoints_found(wanted).find(wanted), std::string::npos);
        Peer sender = Peer::hello(port, hello);
        ASSERT_TRUE(sender.connected());
        play(sender, 1, "pcm", 48000, 16, audio, 4);
    });
    const auto files = alsa_files();  // the stop closed the output and its file
    const auto file = files.find("play-48000-2-16-S16_LE.raw");
    ASSERT_NE(file, files.end()) << "ALSA files: " << files.size();
    expect_played_alone(file->second, audio);
}

// The test driver does not see the test's environment in a service: it reads its settings
// from the registry instead.
TEST_F(ServiceUnderWine, DirectPlaysByteExactUntilScStopsIt) {
    const std::string settings = "HKLM\\SOFTWARE\\Ondelle Test Driver";
    struct Settings {
        const TempDir& dir;
        const std::string& key;
        ~Settings() { run_wine(dir, {"reg", "delete", key, "/f"}); }
    } remove_settings{dir, settings};
    for (const auto& [value, data] : {std::pair{"ONDELLE_TEST_ASIO_TYPE", std::string("16")},
                                      std::pair{"ONDELLE_TEST_ASIO_CAPTURE", dir.path("asio.raw")}})
        ASSERT_EQ(
            run_wine(dir, {"reg", "add", settings, "/v", value, "/t", "REG_SZ", "/d", data, "/f"}),
            0);
    const std::string wire = pattern(44100 * 4 / 2, 11);  // 16-bit samples: the wire audio
    run_service(direct_exe(), {"--driver", "Ondelle Test", "--port", std::to_string(port)}, [&] {
        EXPECT_NE(endpoints_found("Ondelle Test DAC").find("Ondelle Test DAC"), std::string::npos);
        Peer sender = Peer::hello(port, hello);
        ASSERT_TRUE(sender.connected());
        play(sender, 1, "pcm", 44100, 16, wire, 4);
        expect_played_alone(read_file(dir.path("asio.raw")), wire);
    });
}

}  // namespace
}  // namespace ondelle::test

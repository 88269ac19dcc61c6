// Both programs run as Windows services over the simulated service control manager: the
// statuses it sees (starting, then running only once the endpoint listens, stopping, stopped
// with the exit code), a stream played byte-exact in between, a failed start, an output that
// appears after the start, the log, and --service from a console.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "e2e/program.h"
#include "e2e/wire_audio.h"
#include "helpers/peer.h"

namespace ondelle::test {
namespace {

const std::string hello = R"({"t":"hello","proto":2,"sender":{"id":"s1","name":"One"}})";

struct Kind {
    const char* name;
    bool direct;
};

void PrintTo(const Kind& kind, std::ostream* os) {
    *os << kind.name;
}

class AsService : public testing::TestWithParam<Kind> {
  protected:
    void SetUp() override {
        if (!std::getenv("ONDELLE_PRIVATE_NET"))
            GTEST_SKIP() << "the program advertises: run in the private test namespace";
        control = dir.path("service.status");
        capture = dir.path("capture.raw");
        log = dir.path("service.log");
        events = dir.path("events.txt");
    }

    // The program started as the service control manager starts it, on an output that plays
    // 16-bit samples as they come; extra goes into the output's description.
    std::unique_ptr<Program> start(int port, const std::string& extra = "") {
        const std::string common =
            R"("service_control":")" + control + R"(","event_log":")" + events + R"(",)";
        if (GetParam().direct)
            return std::make_unique<Program>(
                dir, ONDELLE_DIRECT_PATH,
                std::vector<std::string>{"--service", "--driver", "DAC", "--port",
                                         std::to_string(port), "--log", log},
                "{" + common + R"("asio_drivers":[{"name":"DAC","sample_type":16,"capture":")" +
                    capture + "\"" + extra + "}]}");
        return std::make_unique<WasapiProgram>(
            dir,
            std::vector<std::string>{"--service", "--port", std::to_string(port), "--log", log},
            "{" + common +
                R"("render_devices":[{"name":"DAC","default":true,"layouts":["16/16"],"capture":")" +
                capture + "\"" + extra + "}]}");
    }

    // The statuses reported so far, one per line.
    std::string statuses() const { return read_file(control); }

    bool wait_for_status(const std::string& line, std::chrono::milliseconds timeout = 15s) const {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            if (statuses().find(line + "\n") != std::string::npos) return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    void ask_to_stop() const { write_file(control + ".stop", ""); }

    // The service's default name, which is also its event source.
    static std::string service_name() {
        return GetParam().direct ? "Ondelle-Direct" : "ondelle-wasapi";
    }

    TempDir dir;
    std::string control;
    std::string capture;
    std::string log;
    std::string events;
};

TEST_P(AsService, RunsOnlyOnceListeningPlaysAndStopsInOrder) {
    const int port = free_port();
    auto program = start(port);
    ASSERT_TRUE(wait_for_status("RUNNING accepts 261")) << statuses() << read_file(log);
    // Running means listening: a sender is welcomed at once.
    Peer sender = Peer::hello(port, hello);
    ASSERT_TRUE(sender.connected());
    const std::string audio = pattern(4 * 4410, 7);
    ASSERT_TRUE(send_stream(sender, 1, "pcm", 44100, 16, audio, 4));
    ASSERT_EQ(sender.read_message("ended", 15s), ended_message(1)) << read_file(log);

    ask_to_stop();
    EXPECT_EQ(program->wait_exit(15s), 0) << read_file(log);
    EXPECT_EQ(statuses(), "START_PENDING\nRUNNING accepts 261\nSTOP_PENDING\nSTOPPED 0 0\n");
    expect_played_alone(read_file(capture), audio);
    const std::string text = read_file(log);
    EXPECT_NE(text.find(std::string("=== ") +
                        (GetParam().direct ? "Ondelle-Direct" : "ondelle-wasapi") + " service \""),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("sender: One"), std::string::npos) << text;
    EXPECT_EQ(read_file(events), service_name() + " information: started; its log is " + log +
                                     "\n" + service_name() + " information: stopped\n");
}

TEST_P(AsService, AFailedStartStopsWithItsCodeAndSaysWhy) {
    const int port = free_port();
    auto first = start(port);
    ASSERT_TRUE(wait_for_status("RUNNING accepts 261")) << statuses();
    const std::string first_control = control;
    control = dir.path("second.status");
    log = dir.path("second.log");
    auto second = start(port);
    EXPECT_EQ(second->wait_exit(15s), 1);
    EXPECT_EQ(statuses(), "START_PENDING\nSTOPPED 1066 1\n");
    EXPECT_NE(read_file(log).find("port " + std::to_string(port) + ": "), std::string::npos)
        << read_file(log);
    // The reason is in the event log too.
    EXPECT_NE(read_file(events).find(service_name() + " error: stopped with exit code 1: port " +
                                     std::to_string(port) + ": "),
              std::string::npos)
        << read_file(events);
    control = first_control;
    ask_to_stop();
    EXPECT_EQ(first->wait_exit(15s), 0);
}

TEST_P(AsService, WaitsRunningForAnOutputThatAppearsLater) {
    const int port = free_port();
    auto program = start(port, R"(,"appears_after_ms":1000)");
    ASSERT_TRUE(wait_for_status("RUNNING accepts 261")) << statuses();
    // Running while it waits (so that it can be stopped), then again once it listens.
    const auto deadline = std::chrono::steady_clock::now() + 15s;
    while (statuses().find("RUNNING accepts 261\nRUNNING accepts 261\n") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    Peer sender = Peer::hello(port, hello);
    EXPECT_TRUE(sender.connected()) << statuses() << read_file(log);
    EXPECT_NE(read_file(log).find("waiting for"), std::string::npos);
    ask_to_stop();
    EXPECT_EQ(program->wait_exit(15s), 0);

    // Stopped while it still waits.
    control = dir.path("waiting.status");
    auto waiting = start(port, R"(,"appears_after_ms":60000)");
    ASSERT_TRUE(wait_for_status("RUNNING accepts 261")) << statuses();
    ask_to_stop();
    EXPECT_EQ(waiting->wait_exit(15s), 0);
    EXPECT_EQ(statuses(), "START_PENDING\nRUNNING accepts 261\nSTOP_PENDING\nSTOPPED 0 0\n");
}

// Past 10 MB the log is moved aside to "<log>.1", at the start or as soon as a line takes it
// over while the service runs; the newest lines are always in the log itself.
TEST_P(AsService, MovesItsLogAsidePastTenMegabytes) {
    constexpr std::size_t limit = 10 * 1000 * 1000;
    for (const std::size_t before : {limit + 1, limit - 40}) {
        SCOPED_TRACE(before);
        const std::string old_log = log + ".1";
        std::filesystem::remove(old_log);
        write_file(log, std::string(before, 'x'));
        write_file(control, "");
        std::filesystem::remove(control + ".stop");
        const int port = free_port();
        auto program = start(port);
        ASSERT_TRUE(wait_for_status("RUNNING accepts 261")) << statuses();
        ask_to_stop();
        EXPECT_EQ(program->wait_exit(15s), 0);
        const std::string moved = read_file(old_log);
        const std::string now = read_file(log);
        ASSERT_GE(moved.size(), before);
        EXPECT_EQ(moved.substr(0, before), std::string(before, 'x'));
        EXPECT_LT(now.size(), 1000u) << now;
        EXPECT_NE(now.find("serving on port " + std::to_string(port)), std::string::npos) << now;
        EXPECT_NE(now.find("the service stopped"), std::string::npos) << now;
    }
}

INSTANTIATE_TEST_SUITE_P(Programs, AsService,
                         testing::Values(Kind{"Wasapi", false}, Kind{"Direct", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// From a console, --service explains itself and ends with 1.
TEST(ServiceFromAConsole, SaysHowToInstallAndExitsOne) {
    for (const auto& [exe, name] :
         {std::pair{std::string(ONDELLE_WASAPI_PATH), std::string("ondelle-wasapi")},
          std::pair{std::string(ONDELLE_DIRECT_PATH), std::string("Ondelle-Direct")}}) {
        const Finished run = run_executable(exe, {"--service"});
        EXPECT_EQ(run.code, 1);
        EXPECT_EQ(run.err, name +
                               ": --service is how the service control manager starts this "
                               "program; to run it at boot, install it with --install-service\n");
    }
}

}  // namespace
}  // namespace ondelle::test

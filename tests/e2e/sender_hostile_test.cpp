// ondelle-send against endpoints that lie or stall, and Ctrl-C wherever it waits: it never
// hangs, never spins, never keeps what does not concern it, never says a file was heard when
// nobody said so, and never lets an endpoint's text rewrite the user's terminal.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <atomic>
#include <csignal>
#include <functional>
#include <optional>
#include <thread>

#include "e2e/program.h"
#include "e2e/wire_audio.h"
#include "helpers/peer.h"

namespace ondelle::test {
namespace {

std::string welcome(int buffer_ms = 500) {
    return R"({"t":"welcome","proto":2,"endpoint":{"id":"liar","name":"Liar","model":"M",)"
           R"("vendor":"V"},"formats":{"pcm":{"rates":[44100],"bits":[16]}},"buffer_ms":)" +
           std::to_string(buffer_ms) + "}";
}

// One endpoint on 127.0.0.1 that welcomes control peers and serves a sender as the case
// says (silent: it answers no one), each connection on a thread of its own, until the test
// is done with it.
class FakeEndpoint {
  public:
    using Serve = std::function<void(Peer&, const std::atomic<bool>& done)>;

    explicit FakeEndpoint(Serve serve_sender, bool silent = false)
        : listener_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_.get(), 4);
        ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
        accepting_ = std::thread([this, serve_sender = std::move(serve_sender), silent] {
            while (!done_.load()) {
                pollfd p{listener_.get(), POLLIN, 0};
                if (::poll(&p, 1, 50) != 1) continue;
                Fd fd(::accept(listener_.get(), nullptr, nullptr));
                if (fd.get() < 0) continue;
                ++accepted_;
                serving_.emplace_back([this, fd = fd.release(), serve_sender, silent]() mutable {
                    Peer peer{Fd(fd)};
                    std::optional<Frame> hello;
                    if (!silent) hello = peer.read_frame(5s);
                    if (hello && hello->payload.find("\"control\"") != std::string::npos) {
                        peer.send_json(welcome());
                    } else if (hello) {
                        serve_sender(peer, done_);
                    }
                    while (!done_.load())
                        std::this_thread::sleep_for(10ms);
                });
            }
        });
    }
    ~FakeEndpoint() {
        done_.store(true);
        accepting_.join();
        for (auto& thread : serving_)
            thread.join();
    }

    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
    // Waits until this many connections have come; false when they did not in time.
    bool wait_accepted(int count) const {
        for (int i = 0; i < 1000 && accepted_.load() < count; ++i)
            std::this_thread::sleep_for(10ms);
        return accepted_.load() >= count;
    }

  private:
    Fd listener_;
    int port_ = 0;
    std::atomic<int> accepted_{0};
    std::atomic<bool> done_{false};
    std::vector<std::thread> serving_;  // the accepting thread's own
    std::thread accepting_;
};

// Answers the sender's hello with the welcome, then reads frames until done, calling
// on_frame.
void welcome_then(Peer& peer, const std::atomic<bool>& done,
                  const std::function<void(Peer&, const Frame&)>& on_frame) {
    peer.send_json(welcome());
    while (!done.load()) {
        const auto frame = peer.read_frame(100ms);
        if (frame) on_frame(peer, *frame);
    }
}

void write_wav_header_and(const std::string& path, std::size_t pcm_bytes) {
    const auto le = [](std::uint32_t v, int n) {
        std::string s;
        for (int i = 0; i < n; ++i)
            s += char(v >> (8 * i));
        return s;
    };
    write_file(path, "RIFF" + le(std::uint32_t(36 + pcm_bytes), 4) + "WAVEfmt " + le(16, 4) +
                         le(1, 2) + le(2, 2) + le(44100, 4) + le(44100 * 4, 4) + le(4, 2) +
                         le(16, 2) + "data" + le(std::uint32_t(pcm_bytes), 4) + pattern(pcm_bytes));
}

// Welcomes and takes everything, saying nothing back.
void takes_all_says_nothing(Peer& peer, const std::atomic<bool>& done) {
    welcome_then(peer, done, [](Peer&, const Frame&) {});
}

// Welcomes, then answers the sender's "start" with this message.
FakeEndpoint::Serve answers_start_with(std::string message) {
    return [message](Peer& peer, const std::atomic<bool>& done) {
        welcome_then(peer, done, [&](Peer& p, const Frame& frame) {
            if (frame.type == 1 && frame.payload.find("\"start\"") != std::string::npos)
                p.send_json(message);
        });
    };
}

struct LiarCase {
    const char* name;
    std::function<void(Peer&, const std::atomic<bool>&)> serve;
    int code;
    std::string says;
    std::chrono::seconds within;
};

class LyingEndpoints : public testing::TestWithParam<LiarCase> {};

TEST_P(LyingEndpoints, EndTheRunInTimeWithTheirOwnCode) {
    const LiarCase& c = GetParam();
    TempDir dir;
    // A minute, where sending stalls or waits for room; 200 ms elsewhere.
    const bool long_file =
        std::string(c.name) == "NeverReads" || std::string(c.name) == "TakesAllAndReportsNothing";
    write_wav_header_and(dir.path("file.wav"), std::size_t(long_file ? 44100 * 60 : 44100 / 5) * 4);
    FakeEndpoint endpoint(c.serve, !c.serve);
    const auto began = std::chrono::steady_clock::now();
    Program sender(dir, ONDELLE_SEND_PATH, {"--to", endpoint.address(), dir.path("file.wav")});
    const int code = sender.wait_exit(c.within + 5s);
    EXPECT_EQ(code, c.code) << sender.err();
    EXPECT_LT(std::chrono::steady_clock::now() - began, c.within) << sender.err();
    EXPECT_NE(sender.err().find(c.says), std::string::npos) << sender.err();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LyingEndpoints,
    testing::Values(LiarCase{"SilentAfterAccept", nullptr, 4, "no welcome in time", 8s},
                    LiarCase{"NeverReads",
                             [](Peer& peer, const std::atomic<bool>& done) {
                                 // Welcomes with a buffer so large that the sender keeps writing,
                                 // then takes nothing more: the socket fills and a send stalls.
                                 peer.send_json(welcome(600000));
                                 while (!done.load())
                                     std::this_thread::sleep_for(10ms);
                             },
                             5, "the endpoint took nothing for 5 s", 14s},
                    LiarCase{"TakesAllAndReportsNothing", takes_all_says_nothing, 10,
                             "the endpoint reports nothing heard", 14s},
                    LiarCase{"NeverSaysEnded", takes_all_says_nothing, 10,
                             "the endpoint never said the last file was heard", 12s},
                    LiarCase{"SendsEscapeCodes",
                             answers_start_with(R"({"t":"error","code":"format",)"
                                                R"("message":"\u001b[2J\u001b[Hall gone"})"),
                             6, "the endpoint refused the format: \\x1B[2J\\x1B[Hall gone", 8s},
                    LiarCase{"LosesItsOutput",
                             answers_start_with(R"({"t":"error","code":"device",)"
                                                R"("message":"the output device is gone"})"),
                             9, "endpoint: the output device is gone", 8s}),
    [](const auto& info) { return std::string(info.param.name); });

// Reports about streams this run never sent are not kept: a flood of them costs nothing.
TEST(LyingEndpoint, AFloodOfOtherStreamsReportsIsNotKept) {
    TempDir dir;
    write_wav_header_and(dir.path("short.wav"), 44100 / 5 * 4);
    std::atomic<bool> flooded{false};
    std::atomic<bool> may_end{false};
    FakeEndpoint endpoint([&](Peer& peer, const std::atomic<bool>& done) {
        welcome_then(peer, done, [&](Peer& p, const Frame& frame) {
            if (frame.type != 1 || frame.payload.find("\"end\"") == std::string::npos) return;
            // The sanitizers make a flood slow enough to outlast the sender's wait for the
            // end; they make its memory meaningless too, so a tenth of it shows as much there.
            const int reports = sanitized ? 30000 : 300000;
            for (int i = 0; i < reports && !done.load(); ++i) {
                const std::string stream = std::to_string(1000 + i);
                p.send_json(i % 2 ? R"({"t":"ended","stream":)" + stream + "}"
                                  : R"({"t":"status","stream":)" + stream +
                                        R"(,"played":1,"buffered_ms":0,"underruns":0,)"
                                        R"("state":"playing"})");
            }
            flooded.store(true);
            while (!may_end.load() && !done.load())
                std::this_thread::sleep_for(10ms);
            p.send_json(R"({"t":"ended","stream":1})");
        });
    });
    Program sender(dir, ONDELLE_SEND_PATH, {"--to", endpoint.address(), dir.path("short.wav")});
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (!flooded.load() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(500ms);  // what was sent last has been read
    const long peak_kib = proc_status(sender.pid(), "VmHWM");
    may_end.store(true);
    EXPECT_EQ(sender.wait_exit(20s), 0) << sender.err();
    if (!sanitized) {
        EXPECT_GT(peak_kib, 0);
        EXPECT_LT(peak_kib, 20 * 1024);
    }
}

// Ctrl-C ends the run with 130 within a second, whatever it waits on.
TEST(SenderInterrupted, WhereverItWaits) {
    if (!std::getenv("ONDELLE_PRIVATE_NET"))
        GTEST_SKIP() << "browsing asks the network: run in the private namespace";
    TempDir dir;
    write_wav_header_and(dir.path("short.wav"), 44100 / 5 * 4);
    const std::string fifo = dir.path("never-written.wav");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    FakeEndpoint silent(nullptr, true);
    FakeEndpoint welcoming([](Peer& peer, const std::atomic<bool>& done) {
        welcome_then(peer, done, [](Peer&, const Frame&) {});
    });
    // Each case waits until the sender is where it says: connected to the endpoint that
    // will not answer, or to the one that answers while the file is being opened; a browse
    // lasts two seconds.
    const struct {
        const char* waiting;
        std::vector<std::string> arguments;
        std::function<bool()> there;
    } cases[] = {
        {"for a welcome",
         {"--to", silent.address(), dir.path("short.wav")},
         [&] { return silent.wait_accepted(1); }},
        {"for the endpoints to answer a browse",
         {"--list"},
         [] {
             std::this_thread::sleep_for(1s);
             return true;
         }},
        {"to open a file",
         {"--to", welcoming.address(), fifo},
         [&] { return welcoming.wait_accepted(1); }},
    };
    for (const auto& c : cases) {
        Program sender(dir, ONDELLE_SEND_PATH, c.arguments);
        ASSERT_TRUE(c.there()) << c.waiting;
        std::this_thread::sleep_for(200ms);  // and has got on to wait there
        sender.send_signal(SIGINT);
        const auto signalled = std::chrono::steady_clock::now();
        EXPECT_EQ(sender.wait_exit(5s), 130) << c.waiting << ": " << sender.err();
        EXPECT_LT(std::chrono::steady_clock::now() - signalled, 1s) << c.waiting;
    }
}

}  // namespace
}  // namespace ondelle::test

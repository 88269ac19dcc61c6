// ondelle-wasapi under attack by peers on its network: after each attack the program is
// alive, a sender that arrives afterwards plays byte-exact, and its memory and threads are
// back near where they were.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <thread>

#include "e2e/program.h"
#include "e2e/wire_audio.h"
#include "helpers/peer.h"

namespace ondelle::test {
namespace {

const std::string cd_format = R"({"kind":"pcm","rate":44100,"bits":16,"channels":2,"codec":"pcm"})";

std::string hello(const std::string& role, const std::string& name) {
    return R"({"t":"hello","proto":2,"role":")" + role + R"(","sender":{"id":")" + name +
           R"(","name":")" + name + R"("}})";
}

// Connections made without waiting for each: a burst as the network delivers it.
std::vector<Fd> connect_many(int port, int count) {
    std::vector<Fd> sockets;
    for (int i = 0; i < count; ++i) {
        Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
        sockets.push_back(std::move(fd));
    }
    for (auto& fd : sockets) {
        pollfd writable{fd.get(), POLLOUT, 0};
        poll(&writable, 1, 5000);
        ::fcntl(fd.get(), F_SETFL, 0);
    }
    return sockets;
}

class Attacked : public testing::Test {
  protected:
    void SetUp() override {
        if (!std::getenv("ONDELLE_PRIVATE_NET"))
            GTEST_SKIP() << "the program advertises: run in the private test namespace";
        port = free_port();
        capture = dir.path("capture.raw");
        program = std::make_unique<WasapiProgram>(
            dir, std::vector<std::string>{"--port", std::to_string(port)},
            R"({"computer_name":"DEN","render_devices":[{"name":"DAC","default":true,)"
            R"("rates":[44100],"layouts":["16/16"],"speed":8,"capture":")" +
                capture + "\"}]}");
        ASSERT_TRUE(program->wait_for_out("Ondelle endpoint")) << program->err();
        play_one(0);  // the first stream's allocations belong to the baseline
        settle();
        rss_kib = proc_status(program->pid(), "VmRSS");
        threads = proc_status(program->pid(), "Threads");
    }

    // Waits until the program's thread count stops falling (sessions ending).
    void settle() {
        long last = -1;
        for (int i = 0; i < 50; ++i) {
            const long now = proc_status(program->pid(), "Threads");
            if (now == last) return;
            last = now;
            std::this_thread::sleep_for(100ms);
        }
    }

    // A sender plays a quarter second, which must reach the device byte-exact.
    void play_one(int seed) {
        const std::string audio = pattern(44100 / 4 * 4, seed);
        Peer sender = Peer::hello(port, hello("stream", "Player" + std::to_string(seed)));
        ASSERT_TRUE(sender.connected());
        ASSERT_TRUE(sender.send_json(R"({"t":"start","stream":1,"format":)" + cd_format + "}"));
        for (std::size_t at = 0; at < audio.size(); at += 3528)
            ASSERT_TRUE(sender.send_audio(1, audio.substr(at, 3528)));
        ASSERT_TRUE(sender.send_json(R"({"t":"end","stream":1})"));
        ASSERT_TRUE(sender.read_message("ended", 15s)) << program->err();
        EXPECT_NE(read_file(capture).find(audio), std::string::npos) << "played byte-exact";
    }

    // After an attack: alive, a new sender plays, threads and memory come back.
    void expect_recovered(long rss_allowance_kib) {
        play_one(1);
        settle();
        EXPECT_EQ(program->wait_exit(0ms), -1) << "still running\n" << program->err();
        EXPECT_LE(proc_status(program->pid(), "Threads"), threads + 1);
        if (!sanitized) {
            EXPECT_LE(proc_status(program->pid(), "VmRSS"), rss_kib + rss_allowance_kib)
                << "resident memory, KiB, from " << rss_kib;
        }
        program->send_signal(SIGINT);
        EXPECT_EQ(program->wait_exit(), 0) << program->err();
    }

    // Resident memory grown since the baseline, in KiB, printed for the record.
    long grown_kib(const char* what) {
        const long grown = proc_status(program->pid(), "VmRSS") - rss_kib;
        std::printf("[ figure   ] %s: %ld KiB\n", what, grown);
        return grown;
    }

    TempDir dir;
    int port = 0;
    std::string capture;
    std::unique_ptr<Program> program;
    long rss_kib = 0;
    long threads = 0;
};

TEST_F(Attacked, ByHeadersThatAnnounceAMegabyteAndStall) {
    constexpr int peers = 300;
    auto sockets = connect_many(port, peers);
    const std::string stalled = frame_header(1048576, 1) + "{\"t\":";
    for (auto& fd : sockets)
        ::send(fd.get(), stalled.data(), stalled.size(), MSG_NOSIGNAL);
    std::this_thread::sleep_for(1500ms);
    const long grown = grown_kib("300 stalled 1 MiB headers");
    if (!sanitized) {
        EXPECT_LT(grown / peers, 64) << "KiB per stalled peer";
    }
    sockets.clear();
    expect_recovered(20 * 1024);
}

TEST_F(Attacked, ByMegabyteMessagesOfTinyValues) {
    std::string text = R"({"t":"x","a":[)";
    while (text.size() + 2 + 3 <= 1048575)
        text += "0,";
    text += "0]}";
    std::vector<Peer> peers;
    for (int i = 0; i < 10; ++i) {
        peers.push_back(Peer::hello(port, hello("control", "Heavy" + std::to_string(i))));
        ASSERT_TRUE(peers.back().send_json(text));
    }
    // The peers now stay silent: what their message cost must not stay with them.
    std::this_thread::sleep_for(2s);
    const long grown = grown_kib("10 idle peers after a 1 MiB message each");
    if (!sanitized) {
        EXPECT_LT(grown, 40 * 1024);
    }
    for (auto& peer : peers) {
        ASSERT_TRUE(peer.send_json(R"({"t":"ping"})"));
        ASSERT_TRUE(peer.read_message("pong", 20s)) << program->err();
    }
    peers.clear();
    expect_recovered(20 * 1024);
}

TEST_F(Attacked, ByAPeerThatNeverReads) {
    Peer control(connect_to("127.0.0.1", port, nullptr, true));
    ASSERT_TRUE(control.send_json(hello("control", "Deaf")));
    std::atomic<bool> done{false};
    std::atomic<bool> stuck{false};
    std::thread pinger([&] { ping_without_reading(control.fd(), stuck, done); });
    // Slow under the thread checker on a busy machine: up to a minute.
    for (int i = 0; i < 600 && !stuck.load(); ++i)
        std::this_thread::sleep_for(100ms);
    if (!stuck.load()) {
        done.store(true);
        pinger.join();
        FAIL() << "the peer's buffers never filled";
    }
    const auto arrived = std::chrono::steady_clock::now();
    play_one(2);
    const auto waited = std::chrono::steady_clock::now() - arrived;
    std::printf("[ figure   ] a sender beside a peer that never reads played after %ld ms\n",
                long(std::chrono::duration_cast<std::chrono::milliseconds>(waited).count()));
    EXPECT_TRUE(program->wait_for_err("took nothing it was sent for 3 s: dropped", 40s))
        << program->err();
    done.store(true);
    pinger.join();
    expect_recovered(20 * 1024);
}

TEST_F(Attacked, ByNamesThatForgeLogLinesOrAreNotText) {
    Peer watcher = Peer::hello(port, hello("control", "Watcher"));
    Peer forger = Peer::hello(
        port, hello("stream", R"(Eve\nrefused 8.8.8.8: not a private network address)"));
    ASSERT_TRUE(program->wait_for_err("sender: Eve\\x0Arefused 8.8.8.8")) << program->err();
    EXPECT_EQ(program->err().find("\nondelle-wasapi: refused 8.8.8.8"), std::string::npos);
    EXPECT_EQ(program->err().find("\nrefused 8.8.8.8"), std::string::npos);
    forger.close();
    Peer::hello(port, "{\"t\":\"hello\",\"proto\":2,\"sender\":{\"name\":\"\xc3\x28Zed\"}}");
    std::optional<std::string> capabilities;
    for (int i = 0; i < 6 && !(capabilities && capabilities->find("Zed") != std::string::npos); ++i)
        capabilities = watcher.read_message("capabilities");
    ASSERT_TRUE(capabilities);
    EXPECT_NE(capabilities->find("\"in_use\":\"\xef\xbf\xbd(Zed\""), std::string::npos)
        << *capabilities;
    expect_recovered(20 * 1024);
}

TEST_F(Attacked, ByABurstOfConnections) {
    constexpr int count = 200;
    auto sockets = connect_many(port, count);
    const auto started = std::chrono::steady_clock::now();
    int welcomed = 0;
    std::vector<Peer> peers;
    for (auto& fd : sockets) {
        peers.emplace_back(std::move(fd));
        peers.back().send_json(hello("control", "Crowd"));
    }
    for (auto& peer : peers) {
        const auto text = peer.read_json(8s);
        if (text && text->find(R"("t":"welcome")") != std::string::npos) ++welcomed;
    }
    std::printf("[ figure   ] %d of %d simultaneous connections welcomed in %ld ms\n", welcomed,
                count,
                long(std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now() - started)
                         .count()));
    EXPECT_EQ(welcomed, count);
    peers.clear();
    expect_recovered(20 * 1024);
}

// A pids cgroup of its own for the program, so that the system refuses it threads.
class ThreadQuota {
  public:
    explicit ThreadQuota(pid_t pid) : path_("/sys/fs/cgroup/pids/ondelle-" + std::to_string(pid)) {
        std::error_code error;
        if (!std::filesystem::create_directory(path_, error)) return;
        write_file(path_ + "/cgroup.procs", std::to_string(pid));
        made_ = read_file(path_ + "/cgroup.procs").find(std::to_string(pid)) != std::string::npos;
    }
    ~ThreadQuota() {
        if (!made_) return;
        // Back to the parent group, then the group goes.
        const std::string procs = read_file(path_ + "/cgroup.procs");
        std::size_t at = 0;
        while (at < procs.size()) {
            const auto end = procs.find('\n', at);
            write_file("/sys/fs/cgroup/pids/cgroup.procs", procs.substr(at, end - at));
            if (end == std::string::npos) break;
            at = end + 1;
        }
        ::rmdir(path_.c_str());
    }
    bool made() const { return made_; }
    long current() const { return std::atol(read_file(path_ + "/pids.current").c_str()); }
    void set_max(const std::string& max) { write_file(path_ + "/pids.max", max); }

  private:
    std::string path_;
    bool made_ = false;
};

TEST_F(Attacked, WhenTheSystemRefusesThreads) {
    ThreadQuota quota(program->pid());
    if (!quota.made()) GTEST_SKIP() << "no pids cgroup to limit the program's threads";
    quota.set_max(std::to_string(quota.current() + 3));
    auto sockets = connect_many(port, 12);
    EXPECT_TRUE(program->wait_for_err("refused 127.0.0.1: thread constructor failed"))
        << program->err();
    quota.set_max("max");
    sockets.clear();
    expect_recovered(20 * 1024);
}

TEST_F(Attacked, UnderACapOnMemory) {
    if (sanitized) GTEST_SKIP() << "an address-space cap means nothing under a sanitizer";
    // What the program has mapped now, and a little more.
    const long size_kib = proc_status(program->pid(), "VmSize");
    rlimit cap{};
    ASSERT_EQ(prlimit(program->pid(), RLIMIT_AS, nullptr, &cap), 0);
    const rlimit uncapped = cap;
    cap.rlim_cur = rlim_t(size_kib + 200 * 1024) * 1024;
    ASSERT_EQ(prlimit(program->pid(), RLIMIT_AS, &cap, nullptr), 0);
    std::string text = R"({"t":"x","a":")";
    text += std::string(1048575 - text.size() - 2, 'a') + "\"}";
    std::vector<Peer> peers;
    for (int i = 0; i < 40; ++i) {
        peers.push_back(Peer::connect(port));
        peers.back().send_json(hello("control", "Big" + std::to_string(i)));
        peers.back().send_json(text);
    }
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(program->wait_exit(0ms), -1) << "still running\n" << program->err();
    peers.clear();
    ASSERT_EQ(prlimit(program->pid(), RLIMIT_AS, &uncapped, nullptr), 0);
    settle();
    expect_recovered(40 * 1024);
}

}  // namespace
}  // namespace ondelle::test

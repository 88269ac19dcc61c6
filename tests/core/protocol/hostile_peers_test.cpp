// Peers that mean harm, or behave as if they did: one of them must never stop the endpoint
// for everyone else, nor cost it memory it keeps.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <future>
#include <new>
#include <thread>

#include "conn.h"
#include "endpoint.h"
#include "helpers/peer.h"
#include "helpers/recording_sink.h"
#include "helpers/running_endpoint.h"

namespace ondelle {
namespace {

using namespace std::chrono_literals;
using test::Peer;
using test::RecordingSink;
using test::RunningEndpoint;

const std::string cd = R"({"kind":"pcm","rate":44100,"bits":16,"channels":2,"codec":"pcm"})";

std::string hello(const std::string& role, const std::string& name) {
    return R"({"t":"hello","proto":2,"role":")" + role + R"(","sender":{"id":"x","name":")" +
           name + R"("}})";
}

TEST(HostileFrames, AStalledHeaderCostsKilobytesNotItsAnnouncedSize) {
    auto [client, server] = test::loopback_pair();
    Peer peer(std::move(client));
    Conn conn(server.release(), "127.0.0.1");
    Message message;
    auto receiving = std::async(std::launch::async, [&] { return conn.receive(message); });
    // A Control frame of 1 MiB announced, a hundred bytes of it sent, then nothing.
    ASSERT_TRUE(peer.send_bytes(test::frame_header(max_frame_length, Control) +
                                std::string(100, ' ')));
    EXPECT_EQ(receiving.wait_for(300ms), std::future_status::timeout);
    conn.shutdown();
    EXPECT_FALSE(receiving.get());
    EXPECT_LT(message.text.capacity(), 65536u);
}

TEST(HostileFrames, TooManyValuesInOneMessageAreRefusedWhole) {
    std::string many = "[";
    for (int i = 0; i < 32766; ++i)
        many += "0,";
    Json parsed;
    EXPECT_TRUE(parse_json(many + "0]", parsed));
    EXPECT_EQ(parsed.elements.size(), 32767u);

    // A megabyte of zeros: half a million values, tens of megabytes as a tree.
    std::string megabyte = R"({"t":"start","a":[)";
    while (megabyte.size() < max_control_text - 2)
        megabyte += "0,";
    EXPECT_FALSE(parse_json(megabyte + "0]}", parsed));
    EXPECT_TRUE(parsed.is_null()) << "not even the type of a refused message is handed on";
}

TEST(HostileFrames, ASendToAPeerThatNeverReadsEndsInTimeAndShutsItDown) {
    auto [client, server] = test::loopback_pair();
    test::shrink_buffers(client.get());
    test::shrink_buffers(server.get());
    Conn conn(server.release(), "127.0.0.1");
    Json big = make_message("x");
    big.set("data", Json(std::string(256 * 1024, 'a')));
    const auto started = std::chrono::steady_clock::now();
    // A second thread that wants to send meanwhile waits no longer than the first.
    auto second = std::async(std::launch::async, [&] {
        std::this_thread::sleep_for(100ms);
        return conn.send_json(make_message("y"));
    });
    EXPECT_FALSE(conn.send_json(big));
    EXPECT_FALSE(second.get());
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(took, send_time_limit - 100ms);
    EXPECT_LT(took, send_time_limit + 2s);
    EXPECT_TRUE(conn.send_timed_out());
}

TEST(HostilePeers, APeerThatNeverReadsDoesNotStallTheNextSender) {
    RecordingSink sink;
    RunningEndpoint running({}, &sink);
    // A control peer that pings and never reads: its pongs fill its socket, then the
    // capability broadcasts to it block.
    Peer control(test::connect_to("127.0.0.1", running.port, nullptr, true));
    ASSERT_TRUE(control.send_json(hello("control", "Mute")));
    ASSERT_TRUE(running.wait_for_log("control: Mute"));
    std::atomic<bool> done{false};
    std::atomic<bool> stuck{false};
    std::thread pinger([&] { test::ping_without_reading(control.fd(), stuck, done); });
    for (int i = 0; i < 200 && !stuck.load(); ++i)
        std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(stuck.load()) << "the peer's buffers never filled";

    const auto arrived = std::chrono::steady_clock::now();
    std::string welcome;
    Peer sender = Peer::hello(running.port, hello("stream", "Late"), &welcome);
    ASSERT_NE(welcome.find(R"("t":"welcome")"), std::string::npos);
    ASSERT_TRUE(sender.send_json(R"({"t":"start","stream":1,"format":)" + cd + "}"));
    ASSERT_TRUE(sender.send_audio(1, std::string(400, '\x5a')));
    EXPECT_TRUE(sink.wait_for_bytes(400, 10s)) << "the new sender plays";
    EXPECT_LT(std::chrono::steady_clock::now() - arrived, send_time_limit + 3s);
    EXPECT_TRUE(running.wait_for_log("127.0.0.1: took nothing it was sent for 3 s: dropped", 40s))
        << testing::PrintToString(running.log_lines());
    done.store(true);
    pinger.join();
}

TEST(HostilePeers, ASessionWithoutMemoryEndsAloneWithOneLine) {
    RunningEndpoint running({}, nullptr, [](Endpoint& e) {
        e.on_command = [](const Json&) -> Json { throw std::bad_alloc(); };
    });
    Peer remote = Peer::hello(running.port, hello("remote", "Greedy"));
    ASSERT_TRUE(remote.send_json(R"({"t":"command","id":1,"action":"next"})"));
    EXPECT_TRUE(remote.wait_closed(5s));
    EXPECT_TRUE(running.wait_for_log("127.0.0.1: out of memory for its messages: dropped"));
    std::string welcome;
    Peer::hello(running.port, hello("control", "After"), &welcome);
    EXPECT_NE(welcome.find(R"("t":"welcome")"), std::string::npos) << "the endpoint serves on";
}

TEST(HostilePeers, NamesCannotForgeLogLinesNorCarryInvalidText) {
    RunningEndpoint running;
    Peer control = Peer::hello(running.port, hello("control", "Watcher"));
    ASSERT_TRUE(running.wait_for_log("control: Watcher"));

    Peer forger = Peer::hello(
        running.port, hello("stream", R"(Eve\nrefused 8.8.8.8: not a private network address\u001b[2J)"));
    EXPECT_TRUE(running.wait_for_log(
        "sender: Eve\\x0Arefused 8.8.8.8: not a private network address\\x1B[2J"));
    for (const auto& line : running.log_lines())
        EXPECT_NE(line.rfind("refused 8.8.8.8", 0), 0u) << "a forged line";
    forger.close();

    // Bytes that are not UTF-8 reach other peers as U+FFFD.
    Peer broken = Peer::hello(running.port, "{\"t\":\"hello\",\"proto\":2,\"sender\":{\"name\":\"\xff\xfe"
                                            "Bob \xe2\x82\"}}");
    std::optional<std::string> capabilities;
    for (int i = 0; i < 4; ++i) {
        capabilities = control.read_message("capabilities");
        if (capabilities && capabilities->find("Bob") != std::string::npos) break;
    }
    ASSERT_TRUE(capabilities);
    EXPECT_NE(capabilities->find("\"in_use\":\"\xef\xbf\xbd\xef\xbf\xbd"
                                 "Bob \xef\xbf\xbd\""),
              std::string::npos)
        << *capabilities;
}

}  // namespace
}  // namespace ondelle

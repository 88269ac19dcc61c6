#include <gtest/gtest.h>

#include "helpers/peer.h"
#include "helpers/running_endpoint.h"

namespace ondelle {
namespace {

using namespace std::chrono_literals;
using test::Peer;
using test::RunningEndpoint;

constexpr const char* proto_error =
    R"({"t":"error","code":"proto","message":"this endpoint speaks Ondelle 1 to 2"})";

TEST(Handshake, RefusesHellosBelowVersionOne) {
    RunningEndpoint running;
    for (const char* hello : {R"({"t":"hello","proto":0})", R"({"t":"hello"})",
                              R"({"t":"hello","proto":"x"})", R"({"t":"hello","proto":-3})"}) {
        auto peer = Peer::connect(running.port);
        ASSERT_TRUE(peer.send_json(hello));
        EXPECT_EQ(peer.read_json(), proto_error) << hello;
        EXPECT_TRUE(peer.wait_closed()) << hello;
    }
}

TEST(Handshake, ClosesWithoutAReplyWhenTheFirstFrameIsNoHello) {
    RunningEndpoint running;
    const std::string first_frames[] = {
        test::frame_header(13, 2) + std::string(12, '\0'),  // audio
        test::frame_header(1, 1),                           // empty control
        test::frame_header(6, 1) + "hello",                 // not JSON
        test::frame_header(13, 1) + R"({"t":"ping"})",
        test::frame_header(20, 4) + R"({"t":"hello","p":1})",  // a hello in an unknown frame type
    };
    for (const auto& bytes : first_frames) {
        auto peer = Peer::connect(running.port);
        ASSERT_TRUE(peer.send_bytes(bytes));
        EXPECT_FALSE(peer.read_frame(2s));  // closed, nothing sent
    }
}

struct DispatchCase {
    const char* hello;
    const char* log_line;
    int proto;
};

class HandshakeDispatch : public testing::TestWithParam<DispatchCase> {};

TEST_P(HandshakeDispatch, PicksTheRoleAndVersion) {
    RunningEndpoint running;
    std::string welcome;
    auto peer = Peer::hello(running.port, GetParam().hello, &welcome);
    Json w;
    ASSERT_TRUE(parse_json(welcome, w)) << welcome;
    EXPECT_EQ(w.get("t").as_string(""), "welcome");
    EXPECT_EQ(w.get("proto").as_int(0), GetParam().proto);
    EXPECT_TRUE(running.wait_for_log(GetParam().log_line));
    // Every role answers pings, whatever else the ping carries, and stays connected.
    ASSERT_TRUE(peer.send_json(R"({"t":"ping","x":1})"));
    EXPECT_EQ(peer.read_message("pong"), R"({"t":"pong"})");
    ASSERT_TRUE(peer.send_json(R"({"t":"no such message"})"));
    ASSERT_TRUE(peer.send_frame(9, "unknown frame type"));
    EXPECT_TRUE(peer.stays_silent(200ms));
}

INSTANTIATE_TEST_SUITE_P(
    Hellos, HandshakeDispatch,
    testing::Values(
        DispatchCase{R"({"t":"hello","proto":1,"role":"remote","sender":{"name":"a"}})",
                     "sender: a", 1},
        DispatchCase{R"({"t":"hello","proto":1,"role":"control","sender":{"name":"b"}})",
                     "sender: b", 1},
        DispatchCase{R"({"t":"hello","proto":2,"role":"remote","sender":{"name":"c"}})",
                     "remote: c", 2},
        DispatchCase{R"({"t":"hello","proto":7,"role":"control","sender":{"name":"d"}})",
                     "control: d", 2},
        DispatchCase{R"({"t":"hello","proto":1,"role":"library","sender":{"name":"e"}})",
                     "library: e", 1},
        DispatchCase{R"({"t":"hello","proto":"2","role":"library"})", "library: ", 2},
        DispatchCase{R"({"t":"hello","proto":2,"role":"dj","sender":{"name":"f"}})", "sender: f",
                     2},
        DispatchCase{R"({"t":"hello","proto":2.9})", "sender: ", 2}));

TEST(Handshake, SilentPeerStaysConnectedUntilTheEndpointStops) {
    auto running = std::make_unique<RunningEndpoint>();
    std::string welcome;
    auto peer = Peer::hello(running->port, R"({"t":"hello","proto":2,"role":"control"})", &welcome);
    EXPECT_FALSE(welcome.empty());
    EXPECT_TRUE(peer.stays_silent(600ms));
    running.reset();
    EXPECT_TRUE(peer.wait_closed());
}

}  // namespace
}  // namespace ondelle

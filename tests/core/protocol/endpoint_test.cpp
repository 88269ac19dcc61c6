#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <future>
#include <thread>

#include "endpoint.h"
#include "helpers/peer.h"
#include "helpers/running_endpoint.h"

namespace ondelle {
namespace {

using namespace std::chrono_literals;

using test::RunningEndpoint;

TEST(EndpointCapacity, FollowsTheLargestFormatAndBuffer) {
    EXPECT_EQ(compute_capacity(EndpointSettings{}), 29065216u);

    EndpointSettings empty;
    empty.rates.clear();
    empty.bits.clear();
    EXPECT_EQ(compute_capacity(empty), 16777216u);

    EndpointSettings huge;
    huge.rates = {768000};
    huge.bits = {32};
    huge.buffer_ms = 20000;
    EXPECT_EQ(compute_capacity(huge), 167772160u);

    EndpointSettings dsd;
    dsd.rates.clear();
    dsd.dsd_rates = {2822400};
    dsd.away_buffer_ms = 3000;  // the longest buffer counts
    EXPECT_EQ(compute_capacity(dsd), 5000ull * 1411200 / 1000 + 16777216);
}

TEST(EndpointListen, RefusesBindAddressesThatAreNotIpv4) {
    for (const char* text : {"::1", "host.example", "1.2.3"}) {
        EndpointSettings settings;
        settings.bind_address = text;
        Endpoint endpoint(std::move(settings), nullptr);
        std::string error;
        EXPECT_FALSE(endpoint.listen(0, error));
        EXPECT_EQ(error, std::string("bad address ") + text);
        EXPECT_EQ(endpoint.local_port(), 0);
    }
}

TEST(EndpointListen, ListensOnTheBindAddressAndReportsSystemErrors) {
    EndpointSettings settings;
    settings.bind_address = "0.0.0.0";
    Endpoint first(std::move(settings), nullptr);
    std::string error;
    ASSERT_TRUE(first.listen(0, error)) << error;
    const int port = first.local_port();
    EXPECT_GT(port, 0);

    // The port is taken (SO_REUSEADDR does not share a listening port): the system's text.
    Endpoint second(EndpointSettings{}, nullptr);
    EXPECT_FALSE(second.listen(port, error));
    EXPECT_EQ(error, "Address already in use");
}

TEST(EndpointServer, ServesLoopbackPeers) {
    // The listener is IPv4; IPv6 peers are covered by the address table.
    RunningEndpoint running;
    for (const char* host : {"127.0.0.1", "127.0.0.53"}) {
        auto peer = test::Peer::connect(running.port, host);
        ASSERT_TRUE(peer.connected()) << host;
        ASSERT_TRUE(peer.send_json(R"({"t":"hello","proto":2,"role":"control"})"));
        EXPECT_TRUE(peer.read_message("welcome")) << host;
    }
}

TEST(EndpointServer, RefusesPeersOutsidePrivateNetworks) {
    // 192.0.2.1 (a documentation address) is put on the loopback device by the test
    // namespace; a socket bound to it reaches the endpoint over loopback only.
    test::Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in source{};
    source.sin_family = AF_INET;
    inet_pton(AF_INET, "192.0.2.1", &source.sin_addr);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&source), sizeof source) != 0) {
        GTEST_SKIP() << "192.0.2.1 is not on this host: run inside the test namespace";
    }
    RunningEndpoint running;
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<uint16_t>(running.port));
    inet_pton(AF_INET, "127.0.0.1", &target.sin_addr);
    ASSERT_EQ(::connect(fd.get(), reinterpret_cast<sockaddr*>(&target), sizeof target), 0);
    test::Peer peer(std::move(fd));
    EXPECT_TRUE(running.wait_for_log("refused 192.0.2.1: not a private network address"));
    EXPECT_TRUE(peer.wait_closed());
}

TEST(EndpointServer, BadFramesEndOnlyTheirOwnSession) {
    RunningEndpoint running;
    auto stalled = test::Peer::connect(running.port);
    ASSERT_TRUE(stalled.send_bytes(test::frame_header(100, 1) + "half"));  // and then nothing

    const std::string bad_frames[] = {
        test::frame_header(0, 1),
        test::frame_header(1048577, 1),
        test::frame_header(12, 2) + std::string(11, '\0'),
        test::frame_header(30, 3) + std::string(1, '\3') + test::be32(0) + "\xff\xff",
    };
    for (const auto& bytes : bad_frames) {
        auto peer = test::Peer::connect(running.port);
        ASSERT_TRUE(peer.send_bytes(bytes));
        EXPECT_TRUE(peer.wait_closed());
    }
    // The stalled peer holds only its own session; new peers are still accepted and served.
    auto fresh = test::Peer::connect(running.port);
    ASSERT_TRUE(fresh.send_json(R"({"t":"hello","proto":2,"role":"control"})"));
    EXPECT_TRUE(fresh.read_message("welcome"));
    ASSERT_TRUE(fresh.send_frame(4, "unknown type"));
    EXPECT_TRUE(fresh.stays_silent(100ms));
}

TEST(EndpointStop, EndsBlockedSessionsAndTheAcceptLoop) {
    RunningEndpoint running;
    auto a = test::Peer::connect(running.port);
    auto b = test::Peer::connect(running.port, "127.0.0.1");
    ASSERT_TRUE(a.connected());
    ASSERT_TRUE(a.send_json(R"({"t":"hello"})"));
    std::this_thread::sleep_for(50ms);  // both sessions now wait in receive
    running.endpoint.stop();
    ASSERT_EQ(running.accept_result.wait_for(5s), std::future_status::ready);
    EXPECT_TRUE(running.accept_result.get());
    EXPECT_TRUE(a.wait_closed());
    EXPECT_TRUE(b.wait_closed());
    running.endpoint.stop();  // a second stop does no harm
}

TEST(EndpointStop, BeforeListenAndTwiceIsHarmless) {
    Endpoint endpoint(EndpointSettings{}, nullptr);
    endpoint.stop();
    endpoint.stop();
    EXPECT_TRUE(endpoint.run());  // returns at once
    std::string error;
    Endpoint other(EndpointSettings{}, nullptr);
    EXPECT_FALSE(other.is_stopping());
}

TEST(EndpointStop, FromAnotherThreadWhilePeersConnect) {
    // Peers keep connecting while the endpoint stops; the destructor must still join
    // every session, whichever side of the stop their registration fell on.
    for (int round = 0; round < 20; ++round) {
        auto running = std::make_unique<RunningEndpoint>();
        const int port = running->port;
        std::atomic<bool> done{false};
        std::thread connector([&] {
            std::vector<test::Peer> peers;
            while (!done.load() && peers.size() < 50)
                peers.push_back(test::Peer::connect(port));
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(round % 5));
        running->endpoint.stop();
        done = true;
        connector.join();
        running.reset();
    }
}

}  // namespace
}  // namespace ondelle

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <thread>

#include "helpers/peer.h"
#include "helpers/recording_sink.h"
#include "helpers/running_endpoint.h"

namespace ondelle {
namespace {

using namespace std::chrono_literals;
using test::Peer;

struct Reporting {
    explicit Reporting(EndpointSettings settings = {},
                       const std::string& hello = R"({"t":"hello","proto":2})")
        : running(std::move(settings), &sink), sender(Peer::hello(running.port, hello)) {}

    void stream(int number, const std::string& format, std::size_t bytes, bool end) {
        ASSERT_TRUE(sender.send_json(R"({"t":"start","stream":)" + std::to_string(number) +
                                     R"(,"format":)" + format + "}"));
        const std::string chunk(65536, '\x01');
        for (std::size_t sent = 0; sent < bytes; sent += chunk.size()) {
            ASSERT_TRUE(
                sender.send_audio(number, chunk.substr(0, std::min(chunk.size(), bytes - sent))));
        }
        if (end) {
            ASSERT_TRUE(sender.send_json(R"({"t":"end","stream":)" + std::to_string(number) + "}"));
        }
    }

    Json next_status() {
        Json status;
        parse_json(sender.read_message("status").value_or(""), status);
        return status;
    }

    test::RecordingSink sink;
    test::RunningEndpoint running;
    Peer sender;
};

const std::string cd = R"({"kind":"pcm","rate":44100,"bits":16})";

TEST(Status, EndedOnceWithPlayedClampedToTheStream) {
    Reporting r;
    r.stream(7, cd, 441000 * 4, true);  // ten seconds
    ASSERT_TRUE(r.sink.wait_for_bytes(441000 * 4));
    EXPECT_EQ(r.sender.read_message("ended"), R"({"t":"ended","stream":7})");
    const auto status = r.sender.read_json();  // in the same cycle, right after
    ASSERT_TRUE(status);
    // The state is "playing" or, once the player has seen the output drained, "idle".
    EXPECT_EQ(
        status->rfind(
            R"({"t":"status","stream":7,"played":441000,"buffered_ms":0,"underruns":0,"state":)",
            0),
        0u)
        << *status;
    // Later cycles repeat neither the end nor a larger position.
    r.sink.set_underruns(3);
    for (int i = 0; i < 2; ++i) {
        const auto next = r.sender.read_json();
        ASSERT_TRUE(next);
        Json v;
        parse_json(*next, v);
        EXPECT_EQ(v.get("t").as_string(""), "status");
        EXPECT_EQ(v.get("played").as_int(0), 441000);
        EXPECT_EQ(v.get("underruns").as_int(0), 3);
    }
}

TEST(Status, HeardPositionFollowsTheSinkDelayAcrossStreams) {
    Reporting r;
    r.sink.set_delay(30000);
    r.stream(1, cd, 20000 * 4, true);
    r.stream(2, cd, 20000 * 4, false);
    ASSERT_TRUE(r.sink.wait_for_bytes(40000 * 4));
    // Heard: 40000 − 30000 = 10000 frames, still inside stream 1.
    Json status = r.next_status();
    EXPECT_EQ(status.get("stream").as_int(0), 1);
    EXPECT_EQ(status.get("played").as_int(0), 10000);
    EXPECT_EQ(status.get("buffered_ms").as_int(0), 30000 * 1000 / 44100);
    r.sink.set_delay(5000);  // heard 35000: stream 1 ended, 15000 into stream 2
    EXPECT_EQ(r.sender.read_message("ended"), R"({"t":"ended","stream":1})");
    status = r.next_status();
    EXPECT_EQ(status.get("stream").as_int(0), 2);
    EXPECT_EQ(status.get("played").as_int(0), 15000);
}

TEST(Status, DsdBufferedTimeCountsBytesPerChannel) {
    EndpointSettings settings;
    settings.dsd_rates = {2822400};
    Reporting r(settings);
    r.sink.set_delay(35280);
    r.stream(1, R"({"kind":"dsd","rate":2822400})", 100000 * 2, false);
    ASSERT_TRUE(r.sink.wait_for_bytes(100000 * 2));
    EXPECT_EQ(r.next_status().get("buffered_ms").as_int(0), 100);
}

TEST(Status, BurstingSendersAreToldOnceASecond) {
    const struct {
        int burst_ms;
        bool slow;
    } cases[] = {{0, false}, {500, true}};
    for (const auto& c : cases) {
        EndpointSettings settings;
        settings.burst_ms = c.burst_ms;
        Reporting r(settings, R"({"t":"hello","proto":2,"burst":true})");
        r.stream(1, cd, 4000, false);
        ASSERT_TRUE(r.sender.read_message("status"));
        const auto before = std::chrono::steady_clock::now();
        ASSERT_TRUE(r.sender.read_message("status"));
        const auto gap = std::chrono::steady_clock::now() - before;
        if (c.slow) {
            EXPECT_GT(gap, 800ms) << "burst_ms " << c.burst_ms;
        } else {
            EXPECT_LT(gap, 800ms) << "burst_ms " << c.burst_ms;
        }
    }
}

TEST(Status, NothingWithoutAnOpenOutputOrMarks) {
    Reporting r;
    EXPECT_FALSE(r.sender.read_message("status", 1200ms));  // nothing started
    r.stream(1, cd, 4000, false);
    ASSERT_TRUE(r.sender.read_message("status"));
    ASSERT_TRUE(r.sender.send_json(R"({"t":"flush"})"));  // clears the marks
    ASSERT_TRUE(r.sink.wait_for_call("flush"));
    r.sender.read_message("status", 600ms);  // one may have been on its way
    EXPECT_FALSE(r.sender.read_message("status", 1200ms));
}

// A flush ends the playing stream and every stream whose start it took out of the queue.
TEST(Status, AFlushOwesTheEndOfEveryStreamItDropped) {
    Reporting r;
    r.sink.hold_writes(true);  // the player holds stream 1 in a write; 2 waits in the queue
    r.stream(1, cd, 4000, false);
    ASSERT_TRUE(r.sink.wait_for_call("open pcm/44100/16/2"));
    r.stream(2, cd, 4000, true);
    ASSERT_TRUE(r.sender.send_json(R"({"t":"flush"})"));
    r.sink.hold_writes(false);
    EXPECT_EQ(r.sender.read_message("ended"), R"({"t":"ended","stream":1})");
    EXPECT_EQ(r.sender.read_message("ended"), R"({"t":"ended","stream":2})");
    EXPECT_FALSE(r.sender.read_message("ended", 1200ms));
}

// A sender may end streams faster than they are heard; the player then waits for the output,
// the record of owed ends stays bounded, and every end still comes, once, in order.
TEST(Status, EndsOwedBeyondTheRecordWaitTheirTurn) {
    Reporting r;
    r.sink.set_delay(std::int64_t(1) << 40);  // nothing is heard yet
    constexpr int streams = int(max_owed_ends) + 1000;
    for (int stream = 1; stream <= streams; ++stream)
        r.stream(stream, cd, 4, true);
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    std::size_t owed = 0;
    while (owed < max_owed_ends && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
        std::lock_guard lock(r.running.endpoint.mutex);
        owed = r.running.endpoint.owed_ends.size();
    }
    EXPECT_EQ(owed, max_owed_ends);
    r.sink.set_delay(0);
    for (int stream = 1; stream <= streams; ++stream)
        ASSERT_EQ(r.sender.read_message("ended"),
                  R"({"t":"ended","stream":)" + std::to_string(stream) + "}");
}

class WirelessStatistics : public testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(WirelessStatistics, AddTheNetworkMember) {
    char path[] = "/tmp/ondelle-wireless-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    {
        std::ofstream file(path);
        file << "Inter-| sta-|   Quality        |   Discarded packets               | Missed | WE\n"
             << " face | tus | link level noise |  nwid  crypt   frag  retry   misc | beacon | 22\n"
             << GetParam().first << "\n";
    }
    Reporting r;
    r.running.endpoint.set_wireless_statistics(path);
    r.stream(1, cd, 4000, false);
    const auto status = r.sender.read_message("status");
    ASSERT_TRUE(status);
    Json v;
    parse_json(*status, v);
    EXPECT_EQ(dump_json(v.get("network")), GetParam().second);
    std::remove(path);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, WirelessStatistics,
    testing::Values(
        std::make_pair(
            "wlan0: 0000   70.  -41.  -256        0      0      0      0      0        0",
            R"({"type":"wifi","signal_dbm":-41})"),
        std::make_pair(
            "wlan0: 0000   70.  -40.7  -256        0      0      0      0      0        0",
            R"({"type":"wifi","signal_dbm":-40})"),
        std::make_pair("wlan0: 0000   70.  0.  -256        0      0      0      0      0        0",
                       R"({"type":"wifi"})"),
        std::make_pair("not a statistics line", "null")));

}  // namespace
}  // namespace ondelle

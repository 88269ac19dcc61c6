#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <thread>

#include "advertiser.h"
#include "helpers/dns_packet.h"
#include "helpers/loopback.h"

namespace ondelle {
namespace {

using namespace std::chrono_literals;
using test::Fd;

// A UDP socket in the test namespace: either a member of the mDNS group on port 5353, to
// see multicast answers, or a one-shot querier on a port of its own.
class Listener {
  public:
    // source: the address a one-shot querier sends from (any of the namespace's by default).
    explicit Listener(bool group_member, const char* source = nullptr)
        : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        const int on = 1;
        ::setsockopt(fd_.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        ::setsockopt(fd_.get(), SOL_SOCKET, SO_REUSEPORT, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(group_member ? 5353 : 0);
        if (source) inet_pton(AF_INET, source, &address.sin_addr);
        ::bind(fd_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
        ip_mreq request{};
        inet_pton(AF_INET, "224.0.0.251", &request.imr_multiaddr);
        inet_pton(AF_INET, "10.77.0.1", &request.imr_interface);
        if (group_member)
            ::setsockopt(fd_.get(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request);
        ::setsockopt(fd_.get(), IPPROTO_IP, IP_MULTICAST_IF, &request.imr_interface,
                     sizeof request.imr_interface);
    }

    // To the group, or straight to the responder's address.
    void send_query(const std::string& datagram, const char* to_address = "224.0.0.251") {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(5353);
        inet_pton(AF_INET, to_address, &to.sin_addr);
        ::sendto(fd_.get(), datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to),
                 sizeof to);
    }

    // The next response naming instance, skipping queries and other responders' packets.
    std::optional<test::DnsPacket> next_response(const std::string& instance,
                                                 std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return std::nullopt;
            pollfd p{fd_.get(), POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
            char buffer[9000];
            const ssize_t n = ::recv(fd_.get(), buffer, sizeof buffer, 0);
            if (n < 12 || !(buffer[2] & 0x80)) continue;
            auto packet = test::parse_dns(std::string(buffer, static_cast<std::size_t>(n)));
            if (packet.ok && packet.records.size() == 4 &&
                packet.records[1].owner.rfind(instance, 0) == 0)
                return packet;
        }
    }

  private:
    Fd fd_;
};

class AdvertiserTest : public testing::Test {
  protected:
    void SetUp() override {
        if (!std::getenv("ONDELLE_PRIVATE_NET"))
            GTEST_SKIP() << "advertises: runs only in the private test namespace";
    }
    std::map<std::string, std::string> txt{{"v", "1"}, {"id", "AB:CD:EF:01"}, {"name", "Test"}};
};

TEST_F(AdvertiserTest, AnnouncesTwiceAtStart) {
    Listener group(true);
    Advertiser advertiser;
    std::string error;
    ASSERT_TRUE(advertiser.start("Announcer", 4720, txt, error)) << error;
    EXPECT_EQ(advertiser.host_name(), "announcer-cdef01.local");
    auto first = group.next_response("Announcer", 2s);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->id, 0);
    EXPECT_EQ(first->records[3].rdata,
              std::string("\x0a\x4d\x00\x01", 4));  // the namespace's address
    EXPECT_TRUE(group.next_response("Announcer", 2s));
    EXPECT_FALSE(group.next_response("Announcer", 1500ms));  // no periodic re-announcement
}

TEST_F(AdvertiserTest, StopInTheFirstSecondEndsBeforeTheSecondAnnouncement) {
    Listener group(true);
    Advertiser advertiser;
    std::string error;
    ASSERT_TRUE(advertiser.start("Short", 4720, txt, error));
    ASSERT_TRUE(group.next_response("Short", 2s));
    const auto began = std::chrono::steady_clock::now();
    advertiser.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - began, 500ms);
    EXPECT_FALSE(group.next_response("Short", 1500ms));
    advertiser.stop();  // again: harmless
}

TEST_F(AdvertiserTest, MulticastQueriesGetMulticastAnswersAndOneShotQueriesUnicast) {
    Listener group(true);
    Listener one_shot(false);
    Advertiser advertiser;
    std::string error;
    ASSERT_TRUE(advertiser.start("My.Room", 4721, txt, error));
    ASSERT_TRUE(group.next_response("My\\.Room", 2s));
    ASSERT_TRUE(group.next_response("My\\.Room", 2s));
    std::this_thread::sleep_for(1100ms);  // past the announcements

    group.send_query(test::dns_query(0x4242, "my.room._ondelle._tcp.local", 33));  // from port 5353
    auto multicast = group.next_response("My\\.Room", 2s);
    ASSERT_TRUE(multicast);
    EXPECT_EQ(multicast->id, 0);
    EXPECT_EQ(multicast->questions, 0);
    EXPECT_EQ(multicast->records[1].ttl, 120u);

    const std::string query = test::dns_query(0x4243, "_ondelle._tcp.local", 12);
    one_shot.send_query(query);
    auto unicast = one_shot.next_response("My\\.Room", 2s);
    ASSERT_TRUE(unicast);
    EXPECT_EQ(unicast->id, 0x4243);
    EXPECT_EQ(unicast->questions, 1);
    EXPECT_EQ(unicast->question, query.substr(12));
    EXPECT_EQ(unicast->records[0].ttl, 370u);
    EXPECT_EQ(unicast->records[1].ttl, 10u);
    EXPECT_EQ(unicast->records[1].klass, 1);

    one_shot.send_query(test::dns_query(0x4244, "_ondelle._tcp.local", 16));  // TXT of the type
    EXPECT_FALSE(one_shot.next_response("My\\.Room", 1s));
}

TEST_F(AdvertiserTest, BadDatagramsAreIgnoredAndTheResponderKeepsAnswering) {
    Listener one_shot(false);
    Advertiser advertiser;
    std::string error;
    ASSERT_TRUE(advertiser.start("Sturdy", 4722, txt, error));
    std::this_thread::sleep_for(2100ms);
    for (int size = 0; size < 12; ++size)
        one_shot.send_query(std::string(static_cast<std::size_t>(size), '\0'));
    one_shot.send_query(std::string(9000, '\x01'));
    one_shot.send_query(std::string(12, '\0') + std::string("\xC0\x0C\x00\x01\x00\x01", 6));
    const std::string query = test::dns_query(9, "sturdy._ondelle._tcp.local", 255);
    one_shot.send_query(query);
    auto reply = one_shot.next_response("Sturdy", 2s);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->id, 9);
}

// A link full of queriers gets one multicast answer a second, however many ask in it.
TEST_F(AdvertiserTest, TenQueriesInASecondGetOneAnswerNowAndOneWhenTheSecondIsOver) {
    Listener group(true);
    Advertiser advertiser;
    std::string error;
    ASSERT_TRUE(advertiser.start("Paced", 4725, txt, error)) << error;
    ASSERT_TRUE(group.next_response("Paced", 2s));
    ASSERT_TRUE(group.next_response("Paced", 2s));
    std::this_thread::sleep_for(1100ms);  // past the announcements

    const std::string query = test::dns_query(0, "_ondelle._tcp.local", 12);
    const auto began = std::chrono::steady_clock::now();
    group.send_query(query);
    ASSERT_TRUE(group.next_response("Paced", 300ms)) << "the first query is answered at once";
    for (int i = 1; i < 10; ++i) {
        std::this_thread::sleep_for(80ms);
        group.send_query(query);
    }
    ASSERT_TRUE(group.next_response("Paced", 1500ms));
    EXPECT_GE(std::chrono::steady_clock::now() - began, 950ms);
    EXPECT_FALSE(group.next_response("Paced", 1500ms)) << "one owed answer, not nine";
}

TEST_F(AdvertiserTest, OneShotQueriesAreAnsweredAtOnceAFewASecondFromOneAddress) {
    Listener one_shot(false);
    Advertiser advertiser;
    std::string error;
    ASSERT_TRUE(advertiser.start("Budget", 4726, txt, error)) << error;
    std::this_thread::sleep_for(2100ms);
    for (int i = 0; i < 20; ++i)
        one_shot.send_query(test::dns_query(std::uint16_t(i), "_ondelle._tcp.local", 12));
    int replies = 0;
    while (one_shot.next_response("Budget", 300ms))
        ++replies;
    EXPECT_GE(replies, 1);
    EXPECT_LE(replies, 4);
}

// 192.0.2.1 sits on the namespace's loopback, on no subnet the responder serves: it stands
// for a host off the link.
TEST_F(AdvertiserTest, QueriesFromOffTheLinkGetNothing) {
    Listener stranger(false, "192.0.2.1");
    Listener neighbour(false, "10.77.0.1");
    Advertiser advertiser;
    std::string error;
    ASSERT_TRUE(advertiser.start("Local", 4727, txt, error)) << error;
    std::this_thread::sleep_for(2100ms);
    const std::string query = test::dns_query(5, "_ondelle._tcp.local", 12);
    stranger.send_query(query, "10.77.0.1");
    EXPECT_FALSE(stranger.next_response("Local", 1500ms));
    neighbour.send_query(query, "10.77.0.1");
    EXPECT_TRUE(neighbour.next_response("Local", 1s));
}

TEST_F(AdvertiserTest, ASecondStartReplacesTheRun) {
    Listener group(true);
    Advertiser advertiser;
    std::string error;
    ASSERT_TRUE(advertiser.start("First", 4723, txt, error));
    ASSERT_TRUE(advertiser.start("Second", 4724, txt, error));
    EXPECT_TRUE(group.next_response("Second", 2s));
    EXPECT_FALSE(group.next_response("First", 1500ms));
}

}  // namespace
}  // namespace ondelle

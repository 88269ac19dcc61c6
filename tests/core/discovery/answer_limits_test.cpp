// The responder's pace per interface, its reply budget per source, and who is on the link.
#include "discovery/answer_limits.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include "discovery/interfaces.h"

namespace ondelle {
namespace {

constexpr std::int64_t ms = 1'000'000;

std::uint32_t ip(const char* text) {
    std::uint32_t a = 0;
    inet_pton(AF_INET, text, &a);
    return a;
}

using Addresses = std::vector<std::uint32_t>;

TEST(MulticastPacing, OnceASecondPerInterfaceWithOneAnswerOwed) {
    const std::uint32_t a = ip("10.0.0.1"), b = ip("192.168.1.2");
    mdns::MulticastPacing pacing;
    pacing.set_interfaces({a, b});
    EXPECT_EQ(pacing.answer(5000 * ms), (Addresses{a, b}));  // the first query: at once
    EXPECT_EQ(pacing.next_due(), -1);
    for (int i = 1; i < 10; ++i)  // nine more in the same second: one answer owed
        EXPECT_EQ(pacing.answer((5000 + 100 * i) * ms), Addresses{});
    EXPECT_EQ(pacing.next_due(), 6000 * ms);
    EXPECT_EQ(pacing.due(5999 * ms), Addresses{});
    EXPECT_EQ(pacing.due(6000 * ms), (Addresses{a, b}));
    EXPECT_EQ(pacing.due(7500 * ms), Addresses{});  // owed once, not once per query
    EXPECT_EQ(pacing.next_due(), -1);

    // An interface that comes up has no past; one that stays keeps its own.
    const std::uint32_t c = ip("172.16.0.3");
    pacing.set_interfaces({b, c});
    EXPECT_EQ(pacing.answer(6500 * ms), Addresses{c});
    EXPECT_EQ(pacing.due(7000 * ms), Addresses{b});
    // Announcements speak now, and count as having spoken.
    pacing.announced(9000 * ms);
    EXPECT_EQ(pacing.answer(9500 * ms), Addresses{});
}

TEST(UnicastBudget, AFewRepliesASecondFromEachAddress) {
    const std::uint32_t one = ip("10.0.0.7"), other = ip("10.0.0.8");
    mdns::UnicastBudget budget;
    for (int i = 0; i < mdns::UnicastBudget::per_second; ++i)
        EXPECT_TRUE(budget.allow(one, (1000 + i) * ms));
    EXPECT_FALSE(budget.allow(one, 1500 * ms));
    EXPECT_TRUE(budget.allow(other, 1500 * ms));
    EXPECT_TRUE(budget.allow(one, 2000 * ms));  // its second is over

    // A crowd that all spoke this second keeps newcomers out until its second is over.
    mdns::UnicastBudget crowded;
    for (std::uint32_t i = 0; i < mdns::UnicastBudget::max_sources; ++i)
        EXPECT_TRUE(crowded.allow(htonl(0x0A000000 + i), 0));
    EXPECT_FALSE(crowded.allow(ip("10.1.0.1"), 500 * ms));
    EXPECT_TRUE(crowded.allow(ip("10.1.0.1"), 1000 * ms));
}

TEST(OnLink, TheHostItsSubnetsAndLinkLocalOnly) {
    const std::vector<NetInterface> list = {
        {"eth0", ip("192.168.1.20"), ip("255.255.255.0")},
        {"", ip("172.16.0.9"), 0},  // the fallback entry knows no subnet
    };
    const struct {
        const char* source;
        bool on_link;
    } cases[] = {
        {"192.168.1.77", true}, {"192.168.2.77", false}, {"127.0.0.1", true}, {"169.254.3.4", true},
        {"172.16.0.9", true},   {"172.16.0.1", false},   {"8.8.8.8", false},  {"10.77.0.1", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(is_on_link(list, ip(c.source)), c.on_link) << c.source;
    EXPECT_FALSE(is_on_link({}, ip("192.168.1.77")));
}

}  // namespace
}  // namespace ondelle

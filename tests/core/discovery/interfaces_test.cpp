#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstdlib>

#include "discovery/interfaces.h"

namespace ondelle {
namespace {

std::uint32_t ip(const char* text) {
    std::uint32_t a = 0;
    inet_pton(AF_INET, text, &a);
    return a;
}

std::string text_of(std::uint32_t address) {
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

TEST(PickInterface, TheLastSubnetThatHoldsThePeerWins) {
    const std::vector<NetInterface> list = {
        {"a", ip("192.168.1.20"), ip("255.255.255.0")},
        {"b", ip("10.0.0.5"), ip("255.0.0.0")},
        {"c", ip("10.1.0.5"), ip("255.255.0.0")},
        {"d", ip("172.16.0.9"), 0},  // a zero mask is only ever the default
    };
    EXPECT_EQ(pick_interface_for(list, ip("10.1.2.3")).name, "c");
    EXPECT_EQ(pick_interface_for(list, ip("10.2.2.3")).name, "b");
    EXPECT_EQ(pick_interface_for(list, ip("192.168.1.77")).name, "a");
    EXPECT_EQ(pick_interface_for(list, ip("172.16.0.1")).name, "a");
    EXPECT_EQ(pick_interface_for(list, ip("192.168.9.9")).name, "a");
}

// Builds interfaces in the private test namespace: one down, one without multicast, one
// with two addresses; the namespace's own veth end is up with 10.77.0.1/24.
class NamespaceInterfaces : public testing::Test {
  protected:
    void SetUp() override {
        if (!std::getenv("ONDELLE_PRIVATE_NET")) GTEST_SKIP() << "needs the private test namespace";
        run("ip link add ondt0 type veth peer name ondt1 && ip link add ondt2 type veth peer name "
            "ondt3 && "
            "ip link add ondt4 type veth peer name ondt5 && "
            "ip addr add 10.91.0.1/16 dev ondt0 && "
            "ip addr add 10.92.0.1/24 dev ondt2 && ip link set ondt2 multicast off && "
            "ip link set ondt2 up && ip link set ondt3 up && "
            "ip addr add 10.93.0.1/24 dev ondt4 && ip addr add 10.94.0.1/30 dev ondt4 && "
            "ip link set ondt4 up && ip link set ondt5 up");
        // A veth pair reports itself running a moment after both ends are up; wait for that
        // (at most two seconds) so that the list is taken from settled links.
        run("for i in $(seq 40); do ip link show ondt2 | grep -q 'state UP' && "
            "ip link show ondt4 | grep -q 'state UP' && exit 0; sleep 0.05; done; exit 1");
    }
    void TearDown() override {
        if (std::getenv("ONDELLE_PRIVATE_NET"))
            run("ip link del ondt0; ip link del ondt2; ip link del ondt4");
    }
    static void run(const std::string& command) {
        ASSERT_EQ(std::system(("(" + command + ") 2>/dev/null").c_str()), 0);
    }
};

TEST_F(NamespaceInterfaces, ListsUsableAddressesWithTheirMasks) {
    std::vector<std::string> seen;
    for (const auto& net : list_adapter_addresses())
        seen.push_back(net.name + " " + text_of(net.address) + "/" + text_of(net.mask));
    auto has = [&](const std::string& entry) {
        return std::find(seen.begin(), seen.end(), entry) != seen.end();
    };
    EXPECT_TRUE(has("ondelle0 10.77.0.1/255.255.255.0"));
    EXPECT_FALSE(has("ondt0 10.91.0.1/255.255.0.0"));    // down
    EXPECT_FALSE(has("ondt2 10.92.0.1/255.255.255.0"));  // no multicast
    const auto first = std::find(seen.begin(), seen.end(), "ondt4 10.93.0.1/255.255.255.0");
    const auto second = std::find(seen.begin(), seen.end(), "ondt4 10.94.0.1/255.255.255.252");
    ASSERT_NE(first, seen.end());
    ASSERT_NE(second, seen.end());
    EXPECT_LT(first, second);
    for (const auto& entry : seen)
        EXPECT_EQ(entry.find("127."), std::string::npos) << "loopback listed";
    EXPECT_EQ(list_interfaces().size(), seen.size());
}

TEST_F(NamespaceInterfaces, PrimaryAddressPrefersAnInterfaceWithAGateway) {
    EXPECT_EQ(primary_address(), "10.77.0.1");  // the first usable one, no gateway anywhere
    run("ip route add default via 10.93.0.2 dev ondt4");
    EXPECT_EQ(primary_address(), "10.93.0.1");
}

}  // namespace
}  // namespace ondelle

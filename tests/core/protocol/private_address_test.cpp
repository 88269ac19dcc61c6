#include <gtest/gtest.h>

#include <arpa/inet.h>

#include "protocol/private_address.h"

namespace ondelle {
namespace {

net::PeerAddress address_of(const std::string& text) {
    net::PeerAddress address;
    if (inet_pton(AF_INET, text.c_str(), address.bytes.data()) == 1) {
        address.family = net::PeerAddress::V4;
    } else if (inet_pton(AF_INET6, text.c_str(), address.bytes.data()) == 1) {
        address.family = net::PeerAddress::V6;
    }
    return address;
}

TEST(PrivateAddress, ServesPrivateLoopbackAndLinkLocalOnly) {
    for (const char* served :
         {"10.1.2.3", "172.31.0.1", "172.16.0.1", "192.168.0.9", "169.254.7.7", "127.0.0.1",
          "127.9.9.9", "::1", "fd00::5", "fc00::1", "fe80::1", "febf::1", "::ffff:192.168.1.1"}) {
        EXPECT_TRUE(is_private_address(address_of(served))) << served;
    }
    for (const char* refused :
         {"172.32.0.1", "172.15.0.1", "169.253.0.1", "8.8.8.8", "192.0.2.1", "fec0::1",
          "::ffff:8.8.8.8", "::", "::2", "2001:db8::1", "fe7f::1"}) {
        EXPECT_FALSE(is_private_address(address_of(refused))) << refused;
    }
    EXPECT_FALSE(is_private_address(net::PeerAddress{}));  // another family
}

}  // namespace
}  // namespace ondelle

// Which peer addresses may connect: private, loopback and link-local ones.
#include "protocol/private_address.h"

#include <algorithm>

namespace ondelle {
namespace {

bool is_private_v4(const std::uint8_t* b) {
    return b[0] == 10 || b[0] == 127 || (b[0] == 169 && b[1] == 254) ||
           (b[0] == 192 && b[1] == 168) || (b[0] == 172 && b[1] >= 16 && b[1] <= 31);
}

}  // namespace

bool is_private_address(const net::PeerAddress& address) {
    const std::uint8_t* b = address.bytes.data();
    if (address.family == net::PeerAddress::V4) return is_private_v4(b);
    if (address.family != net::PeerAddress::V6) return false;
    const bool ten_zeros = std::all_of(b, b + 10, [](std::uint8_t x) { return x == 0; });
    if (ten_zeros && b[10] == 0xFF && b[11] == 0xFF) return is_private_v4(b + 12);
    const bool loopback =
        std::all_of(b, b + 15, [](std::uint8_t x) { return x == 0; }) && b[15] == 1;
    return loopback || (b[0] & 0xFE) == 0xFC || (b[0] == 0xFE && b[1] >= 0x80 && b[1] <= 0xBF);
}

}  // namespace ondelle

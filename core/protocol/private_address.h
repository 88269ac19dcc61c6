// Which peers the endpoint serves: private, loopback and link-local networks only.
#pragma once

#include "support/socket.h"

namespace ondelle {

// IPv4 10/8, 127/8, 169.254/16, 192.168/16, 172.16/12; IPv6 ::1, fc00::/7, fe80::/10, and
// IPv4-mapped addresses by their IPv4 part. Nothing else, other families included.
bool is_private_address(const net::PeerAddress& address);

}  // namespace ondelle

// The operating system's UDP sockets with IPv4 multicast, for the discovery responder.
// Addresses and ports are IPv4 in network byte order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/socket.h"

namespace ondelle::net {

SocketHandle open_udp_v4();

// Lets other mDNS software on the host bind the same port (SO_REUSEADDR, and SO_REUSEPORT
// where the system needs it for sharing).
bool set_shared_port(SocketHandle socket);
bool bind_udp_v4(SocketHandle socket, std::uint32_t address_be, std::uint16_t port);

bool join_group(SocketHandle socket, std::uint32_t group_be, std::uint32_t interface_be);
bool set_multicast_ttl(SocketHandle socket, int ttl);
bool set_multicast_interface(SocketHandle socket, std::uint32_t interface_be);

long send_to(SocketHandle socket, const void* data, std::size_t size, std::uint32_t address_be,
             std::uint16_t port_be);

// Waits until the socket is readable or the time has passed; true when readable.
bool wait_readable(SocketHandle socket, int timeout_ms);
// The same for two sockets (-1: no time limit): 1 or 2 for the one that is readable first, 0
// when neither is.
int wait_readable(SocketHandle first, SocketHandle second, int timeout_ms);

// One datagram; negative on failure, also when the datagram did not fit the buffer.
long receive_from(SocketHandle socket, void* data, std::size_t size, std::uint32_t& address_be,
                  std::uint16_t& port_be);

}  // namespace ondelle::net

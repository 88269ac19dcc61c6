// UDP sockets and multicast membership over Winsock 2.
#include "support/udp_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace ondelle::net {

SocketHandle open_udp_v4() {
    const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    return s == INVALID_SOCKET ? no_socket : static_cast<SocketHandle>(s);
}

bool set_shared_port(SocketHandle socket) {
    const BOOL on = TRUE;
    return ::setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_REUSEADDR,
                        reinterpret_cast<const char*>(&on), sizeof on) == 0;
}

bool bind_udp_v4(SocketHandle socket, std::uint32_t address_be, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = address_be;
    address.sin_port = htons(port);
    return ::bind(static_cast<SOCKET>(socket), reinterpret_cast<const sockaddr*>(&address),
                  sizeof address) == 0;
}

bool join_group(SocketHandle socket, std::uint32_t group_be, std::uint32_t interface_be) {
    ip_mreq request{};
    request.imr_multiaddr.s_addr = group_be;
    request.imr_interface.s_addr = interface_be;
    return ::setsockopt(static_cast<SOCKET>(socket), IPPROTO_IP, IP_ADD_MEMBERSHIP,
                        reinterpret_cast<const char*>(&request), sizeof request) == 0;
}

bool set_multicast_ttl(SocketHandle socket, int ttl) {
    const DWORD value = static_cast<DWORD>(ttl);
    return ::setsockopt(static_cast<SOCKET>(socket), IPPROTO_IP, IP_MULTICAST_TTL,
                        reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

bool set_multicast_interface(SocketHandle socket, std::uint32_t interface_be) {
    in_addr address{};
    address.s_addr = interface_be;
    return ::setsockopt(static_cast<SOCKET>(socket), IPPROTO_IP, IP_MULTICAST_IF,
                        reinterpret_cast<const char*>(&address), sizeof address) == 0;
}

long send_to(SocketHandle socket, const void* data, std::size_t size, std::uint32_t address_be,
             std::uint16_t port_be) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = address_be;
    to.sin_port = port_be;
    return ::sendto(static_cast<SOCKET>(socket), static_cast<const char*>(data),
                    static_cast<int>(size), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

bool wait_readable(SocketHandle socket, int timeout_ms) {
    WSAPOLLFD p{};
    p.fd = static_cast<SOCKET>(socket);
    p.events = POLLRDNORM;
    return WSAPoll(&p, 1, timeout_ms) > 0;
}

int wait_readable(SocketHandle first, SocketHandle second, int timeout_ms) {
    WSAPOLLFD p[2] = {};
    p[0].fd = static_cast<SOCKET>(first);
    p[1].fd = static_cast<SOCKET>(second);
    p[0].events = p[1].events = POLLRDNORM;
    if (WSAPoll(p, 2, timeout_ms) <= 0) return 0;
    for (int i = 0; i < 2; ++i)
        if ((p[i].revents & (POLLRDNORM | POLLERR | POLLHUP)) != 0) return i + 1;
    return 0;
}

long receive_from(SocketHandle socket, void* data, std::size_t size, std::uint32_t& address_be,
                  std::uint16_t& port_be) {
    sockaddr_in from{};
    int from_size = sizeof from;
    const int got =
        ::recvfrom(static_cast<SOCKET>(socket), static_cast<char*>(data), static_cast<int>(size), 0,
                   reinterpret_cast<sockaddr*>(&from), &from_size);
    if (got < 0) return -1;  // a datagram larger than the buffer fails with WSAEMSGSIZE
    address_be = from.sin_addr.s_addr;
    port_be = from.sin_port;
    return got;
}

}  // namespace ondelle::net

// UDP sockets and multicast membership over BSD sockets.
#include "support/udp_socket.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

namespace ondelle::net {

SocketHandle open_udp_v4() {
    return ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
}

bool set_shared_port(SocketHandle socket) {
    const int on = 1;
    const int fd = static_cast<int>(socket);
    const bool address = ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0;
    // Linux shares a bound port only when every socket on it sets SO_REUSEPORT as well.
    const bool port = ::setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on) == 0;
    return address && port;
}

bool bind_udp_v4(SocketHandle socket, std::uint32_t address_be, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = address_be;
    address.sin_port = htons(port);
    return ::bind(static_cast<int>(socket), reinterpret_cast<const sockaddr*>(&address),
                  sizeof address) == 0;
}

bool join_group(SocketHandle socket, std::uint32_t group_be, std::uint32_t interface_be) {
    ip_mreq request{};
    request.imr_multiaddr.s_addr = group_be;
    request.imr_interface.s_addr = interface_be;
    return ::setsockopt(static_cast<int>(socket), IPPROTO_IP, IP_ADD_MEMBERSHIP, &request,
                        sizeof request) == 0;
}

bool set_multicast_ttl(SocketHandle socket, int ttl) {
    const unsigned char value = static_cast<unsigned char>(ttl);
    return ::setsockopt(static_cast<int>(socket), IPPROTO_IP, IP_MULTICAST_TTL, &value,
                        sizeof value) == 0;
}

bool set_multicast_interface(SocketHandle socket, std::uint32_t interface_be) {
    in_addr address{};
    address.s_addr = interface_be;
    return ::setsockopt(static_cast<int>(socket), IPPROTO_IP, IP_MULTICAST_IF, &address,
                        sizeof address) == 0;
}

long send_to(SocketHandle socket, const void* data, std::size_t size, std::uint32_t address_be,
             std::uint16_t port_be) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = address_be;
    to.sin_port = port_be;
    return static_cast<long>(::sendto(static_cast<int>(socket), data, size, MSG_NOSIGNAL,
                                      reinterpret_cast<const sockaddr*>(&to), sizeof to));
}

bool wait_readable(SocketHandle socket, int timeout_ms) {
    pollfd p{static_cast<int>(socket), POLLIN, 0};
    return ::poll(&p, 1, timeout_ms) > 0 && (p.revents & (POLLIN | POLLERR | POLLHUP)) != 0;
}

int wait_readable(SocketHandle first, SocketHandle second, int timeout_ms) {
    pollfd p[2] = {{static_cast<int>(first), POLLIN, 0}, {static_cast<int>(second), POLLIN, 0}};
    if (::poll(p, 2, timeout_ms) <= 0) return 0;
    for (int i = 0; i < 2; ++i)
        if ((p[i].revents & (POLLIN | POLLERR | POLLHUP)) != 0) return i + 1;
    return 0;
}

long receive_from(SocketHandle socket, void* data, std::size_t size, std::uint32_t& address_be,
                  std::uint16_t& port_be) {
    sockaddr_in from{};
    iovec part{data, size};
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    const ssize_t got = ::recvmsg(static_cast<int>(socket), &message, 0);
    if (got < 0 || (message.msg_flags & MSG_TRUNC))
        return -1;  // too large counts as failed, as on Windows
    address_be = from.sin_addr.s_addr;
    port_be = from.sin_port;
    return static_cast<long>(got);
}

}  // namespace ondelle::net

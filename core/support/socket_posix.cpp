// TCP sockets over BSD sockets.
#include "support/socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace ondelle::net {

void startup() {}

std::string system_error_text(int code) {
    char buffer[256];
    // The GNU variant may return a static string instead of filling the buffer.
    const char* text = strerror_r(code, buffer, sizeof buffer);
    std::string message = text ? text : "";
    while (!message.empty() && (message.back() == '\r' || message.back() == '\n')) {
        message.pop_back();
    }
    return message;
}

std::string last_error_text() {
    return system_error_text(errno);
}

SocketHandle open_tcp_v4() {
    return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

bool set_reuse_address(SocketHandle socket) {
    const int on = 1;
    return ::setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0;
}

bool set_no_delay(SocketHandle socket) {
    const int on = 1;
    return ::setsockopt(static_cast<int>(socket), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0;
}

bool parse_ipv4(const std::string& text, std::uint32_t& address_be) {
    in_addr address{};
    if (::inet_pton(AF_INET, text.c_str(), &address) != 1) return false;
    address_be = address.s_addr;
    return true;
}

bool bind_and_listen_v4(SocketHandle socket, std::uint32_t address_be, int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = address_be;
    const int fd = static_cast<int>(socket);
    return ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
           ::listen(fd, SOMAXCONN) == 0;
}

int local_port(SocketHandle socket) {
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    if (::getsockname(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&address), &size) !=
        0) {
        return 0;
    }
    if (address.ss_family == AF_INET) {
        return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    }
    if (address.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    }
    return 0;
}

SocketHandle accept_peer(SocketHandle listener, PeerAddress& peer, std::string& peer_text) {
    alignas(sockaddr_storage) unsigned char storage[128] = {};
    socklen_t size = sizeof storage;
    const int fd = ::accept4(static_cast<int>(listener), reinterpret_cast<sockaddr*>(storage),
                             &size, SOCK_CLOEXEC);
    if (fd < 0) return no_socket;
    char text[65] = {};
    peer = PeerAddress{};
    const auto family = reinterpret_cast<const sockaddr*>(storage)->sa_family;
    if (family == AF_INET) {
        const auto& v4 = *reinterpret_cast<const sockaddr_in*>(storage);
        peer.family = PeerAddress::V4;
        std::memcpy(peer.bytes.data(), &v4.sin_addr, 4);
        ::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    } else if (family == AF_INET6) {
        const auto& v6 = *reinterpret_cast<const sockaddr_in6*>(storage);
        peer.family = PeerAddress::V6;
        std::memcpy(peer.bytes.data(), &v6.sin6_addr, 16);
        ::inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
    }
    peer_text = text;
    return fd;
}

bool set_send_timeout(SocketHandle socket, long milliseconds) {
    milliseconds = milliseconds < 1 ? 1 : milliseconds;
    timeval timeout{};
    timeout.tv_sec = milliseconds / 1000;
    timeout.tv_usec = (milliseconds % 1000) * 1000;
    return ::setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_SNDTIMEO, &timeout,
                        sizeof timeout) == 0;
}

bool send_timed_out() {
    return errno == EAGAIN || errno == EWOULDBLOCK;
}

long send_some(SocketHandle socket, const void* data, std::size_t size) {
    return static_cast<long>(::send(static_cast<int>(socket), data, size, MSG_NOSIGNAL));
}

long receive_some(SocketHandle socket, void* data, std::size_t size) {
    return static_cast<long>(::recv(static_cast<int>(socket), data, size, 0));
}

long receive_some_into(SocketHandle socket, void* first, std::size_t first_size, void* second,
                       std::size_t second_size) {
    iovec parts[2] = {{first, first_size}, {second, second_size}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = 2;
    return static_cast<long>(::recvmsg(static_cast<int>(socket), &message, 0));
}

void shutdown_both(SocketHandle socket) {
    ::shutdown(static_cast<int>(socket), SHUT_RDWR);
}

void close_socket(SocketHandle socket) {
    ::close(static_cast<int>(socket));
}

}  // namespace ondelle::net

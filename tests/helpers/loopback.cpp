#include "helpers/loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace ondelle::test {

void Fd::reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

std::pair<Fd, Fd> loopback_pair() {
    Fd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener.get(), 1) != 0 ||
        ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        throw std::runtime_error("loopback listener failed");
    }
    Fd client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (::connect(client.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("loopback connect failed");
    }
    Fd server(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (server.get() < 0) throw std::runtime_error("loopback accept failed");
    return {std::move(client), std::move(server)};
}

Fd connect_to(const char* host, int port, const char* source, bool small_buffers) {
    sockaddr_storage storage{};
    socklen_t size = 0;
    int family = AF_INET;
    auto& v4 = reinterpret_cast<sockaddr_in&>(storage);
    auto& v6 = reinterpret_cast<sockaddr_in6&>(storage);
    if (::inet_pton(AF_INET, host, &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(static_cast<uint16_t>(port));
        size = sizeof v4;
    } else if (::inet_pton(AF_INET6, host, &v6.sin6_addr) == 1) {
        family = AF_INET6;
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(static_cast<uint16_t>(port));
        size = sizeof v6;
    } else {
        return Fd();
    }
    Fd fd(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    // Before the connection exists, so that the window the peer is offered is small too.
    if (small_buffers) shrink_buffers(fd.get());
    if (source != nullptr) {
        sockaddr_in from{};
        from.sin_family = AF_INET;
        if (family != AF_INET || ::inet_pton(AF_INET, source, &from.sin_addr) != 1 ||
            ::bind(fd.get(), reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
            return Fd();
        }
    }
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&storage), size) != 0) return Fd();
    const int on = 1;
    ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

void shrink_buffers(int fd) {
    const int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
}

}  // namespace ondelle::test

// TCP sockets over Winsock 2.
#include "support/socket.h"

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// clang-format on

#include <cstring>
#include <mutex>
#include <set>

namespace ondelle::net {

namespace {

// Winsock does not wake a receive blocked in another thread when the socket is shut down,
// as POSIX does: such a session would hold the endpoint's shutdown for ever. So a receive
// waits for data in slices and gives up once the socket is on this list of those shut down.
class ShutSockets {
  public:
    void add(SOCKET socket) {
        std::lock_guard lock(mutex_);
        sockets_.insert(socket);
    }
    void remove(SOCKET socket) {
        std::lock_guard lock(mutex_);
        sockets_.erase(socket);
    }
    bool contains(SOCKET socket) {
        std::lock_guard lock(mutex_);
        return sockets_.count(socket) != 0;
    }

  private:
    std::mutex mutex_;
    std::set<SOCKET> sockets_;
};

ShutSockets& shut_sockets() {
    static ShutSockets sockets;
    return sockets;
}

// True once data (or the peer's close) can be read; false when the socket was shut down here.
bool wait_readable(SOCKET socket) {
    for (;;) {
        WSAPOLLFD poll{};
        poll.fd = socket;
        poll.events = POLLRDNORM;
        const int ready = WSAPoll(&poll, 1, 200);
        if (ready != 0) return ready > 0 || !shut_sockets().contains(socket);
        if (shut_sockets().contains(socket)) return false;
    }
}

}  // namespace

void startup() {
    static std::once_flag once;
    std::call_once(once, [] {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    });
}

std::string system_error_text(int code) {
    char buffer[256] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, static_cast<DWORD>(code), 0, buffer, 255, nullptr);
    std::string message(buffer, length);
    while (!message.empty() && (message.back() == '\r' || message.back() == '\n')) {
        message.pop_back();
    }
    return message;
}

std::string last_error_text() {
    return system_error_text(WSAGetLastError());
}

SocketHandle open_tcp_v4() {
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    return s == INVALID_SOCKET ? no_socket : static_cast<SocketHandle>(s);
}

bool set_reuse_address(SocketHandle socket) {
    const BOOL on = TRUE;
    return ::setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_REUSEADDR,
                        reinterpret_cast<const char*>(&on), sizeof on) == 0;
}

bool set_no_delay(SocketHandle socket) {
    const BOOL on = TRUE;
    return ::setsockopt(static_cast<SOCKET>(socket), IPPROTO_TCP, TCP_NODELAY,
                        reinterpret_cast<const char*>(&on), sizeof on) == 0;
}

bool parse_ipv4(const std::string& text, std::uint32_t& address_be) {
    IN_ADDR address{};
    if (::inet_pton(AF_INET, text.c_str(), &address) != 1) return false;
    address_be = address.s_addr;
    return true;
}

bool bind_and_listen_v4(SocketHandle socket, std::uint32_t address_be, int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = address_be;
    const SOCKET s = static_cast<SOCKET>(socket);
    return ::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
           ::listen(s, SOMAXCONN) == 0;
}

int local_port(SocketHandle socket) {
    sockaddr_storage address{};
    int size = sizeof address;
    if (::getsockname(static_cast<SOCKET>(socket), reinterpret_cast<sockaddr*>(&address), &size) !=
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
    int size = sizeof storage;
    const SOCKET s =
        ::accept(static_cast<SOCKET>(listener), reinterpret_cast<sockaddr*>(storage), &size);
    if (s == INVALID_SOCKET) return no_socket;
    char text[65] = {};
    peer = PeerAddress{};
    const auto family = reinterpret_cast<const sockaddr*>(storage)->sa_family;
    if (family == AF_INET) {
        auto& v4 = *reinterpret_cast<sockaddr_in*>(storage);
        peer.family = PeerAddress::V4;
        std::memcpy(peer.bytes.data(), &v4.sin_addr, 4);
        ::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    } else if (family == AF_INET6) {
        auto& v6 = *reinterpret_cast<sockaddr_in6*>(storage);
        peer.family = PeerAddress::V6;
        std::memcpy(peer.bytes.data(), &v6.sin6_addr, 16);
        ::inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
    }
    peer_text = text;
    return static_cast<SocketHandle>(s);
}

bool set_send_timeout(SocketHandle socket, long milliseconds) {
    const DWORD timeout = milliseconds < 1 ? 1 : static_cast<DWORD>(milliseconds);
    return ::setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_SNDTIMEO,
                        reinterpret_cast<const char*>(&timeout), sizeof timeout) == 0;
}

bool send_timed_out() {
    return WSAGetLastError() == WSAETIMEDOUT;
}

long send_some(SocketHandle socket, const void* data, std::size_t size) {
    const int chunk = size > 0x40000000 ? 0x40000000 : static_cast<int>(size);
    return ::send(static_cast<SOCKET>(socket), static_cast<const char*>(data), chunk, 0);
}

long receive_some(SocketHandle socket, void* data, std::size_t size) {
    if (!wait_readable(static_cast<SOCKET>(socket))) return 0;
    const int chunk = size > 0x40000000 ? 0x40000000 : static_cast<int>(size);
    return ::recv(static_cast<SOCKET>(socket), static_cast<char*>(data), chunk, 0);
}

long receive_some_into(SocketHandle socket, void* first, std::size_t first_size, void* second,
                       std::size_t second_size) {
    if (!wait_readable(static_cast<SOCKET>(socket))) return 0;
    WSABUF parts[2];
    parts[0].buf = static_cast<char*>(first);
    parts[0].len = static_cast<ULONG>(first_size > 0x40000000 ? 0x40000000 : first_size);
    parts[1].buf = static_cast<char*>(second);
    parts[1].len = static_cast<ULONG>(second_size > 0x40000000 ? 0x40000000 : second_size);
    DWORD received = 0;
    DWORD flags = 0;
    if (WSARecv(static_cast<SOCKET>(socket), parts, 2, &received, &flags, nullptr, nullptr) != 0)
        return -1;
    return static_cast<long>(received);
}

void shutdown_both(SocketHandle socket) {
    shut_sockets().add(static_cast<SOCKET>(socket));
    ::shutdown(static_cast<SOCKET>(socket), SD_BOTH);
}

void close_socket(SocketHandle socket) {
    // Off the list first: once closed, the number may come back for a new connection.
    shut_sockets().remove(static_cast<SOCKET>(socket));
    ::closesocket(static_cast<SOCKET>(socket));
}

}  // namespace ondelle::net

// The operating system's TCP sockets, behind one small interface: BSD sockets on POSIX,
// Winsock 2 on Windows. Handles are plain values; their owners decide when to close them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace ondelle::net {

using SocketHandle = std::intptr_t;  // a file descriptor, or a Winsock SOCKET
inline constexpr SocketHandle no_socket = -1;

// A peer's address as the accept call reported it.
struct PeerAddress {
    enum Family { Other, V4, V6 };
    Family family = Other;
    std::array<std::uint8_t, 16> bytes{};  // V4 uses the first four
};

// Starts Winsock 2.2 once per process; nothing elsewhere. Thread-safe.
void startup();

// The system's message for an error code (no line end), and for the last socket error.
std::string system_error_text(int code);
std::string last_error_text();

SocketHandle open_tcp_v4();
bool set_reuse_address(SocketHandle socket);
bool set_no_delay(SocketHandle socket);

// Parses a dotted IPv4 text into network byte order.
bool parse_ipv4(const std::string& text, std::uint32_t& address_be);

// Binds to address (network order; 0 for every address) and port, then listens with the
// longest queue of pending connections the system allows.
bool bind_and_listen_v4(SocketHandle socket, std::uint32_t address_be, int port);

// The port the socket is bound to; 0 when the query fails.
int local_port(SocketHandle socket);

// Accepts one connection; fills the peer's address and its inet_ntop text.
SocketHandle accept_peer(SocketHandle listener, PeerAddress& peer, std::string& peer_text);

// How long one send call may block before it fails (at least 1 ms).
bool set_send_timeout(SocketHandle socket, long milliseconds);
// Whether the last failed send failed because its time ran out.
bool send_timed_out();

// One send or receive call: bytes moved, 0 when the peer closed, negative on failure.
// Sending never raises SIGPIPE.
long send_some(SocketHandle socket, const void* data, std::size_t size);
long receive_some(SocketHandle socket, void* data, std::size_t size);

// One receive call into two buffers in turn (a header and the data that follows it).
long receive_some_into(SocketHandle socket, void* first, std::size_t first_size, void* second,
                       std::size_t second_size);

void shutdown_both(SocketHandle socket);
void close_socket(SocketHandle socket);

// Owns a socket while it is being set up: closed on every early return, released to its
// long-term owner once it works.
class UniqueSocket {
  public:
    explicit UniqueSocket(SocketHandle socket) : socket_(socket) {}
    ~UniqueSocket() {
        if (socket_ != no_socket) close_socket(socket_);
    }
    UniqueSocket(const UniqueSocket&) = delete;
    UniqueSocket& operator=(const UniqueSocket&) = delete;
    UniqueSocket(UniqueSocket&& other) noexcept : socket_(other.release()) {}
    UniqueSocket& operator=(UniqueSocket&& other) noexcept {
        if (this != &other) {
            if (socket_ != no_socket) close_socket(socket_);
            socket_ = other.release();
        }
        return *this;
    }

    SocketHandle get() const { return socket_; }
    SocketHandle release() {
        const SocketHandle socket = socket_;
        socket_ = no_socket;
        return socket;
    }

  private:
    SocketHandle socket_;
};

}  // namespace ondelle::net

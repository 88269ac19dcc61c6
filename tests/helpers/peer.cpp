#include "helpers/peer.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ondelle::test {

Json Frame::json() const {
    Json value;
    parse_json(payload, value);
    return value;
}

std::string be32(std::uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i)
        s[i] = static_cast<char>(v >> (24 - 8 * i));
    return s;
}

std::string be64(std::uint64_t v) {
    return be32(static_cast<std::uint32_t>(v >> 32)) + be32(static_cast<std::uint32_t>(v));
}

std::string frame_header(std::uint32_t length, std::uint8_t type) {
    return be32(length) + std::string(1, static_cast<char>(type));
}

Peer Peer::connect(int port, const char* host, const char* source) {
    return Peer(connect_to(host, port, source));
}

Peer Peer::hello(int port, const std::string& hello_text, std::string* welcome,
                 const char* source) {
    Peer peer = connect(port, "127.0.0.1", source);
    peer.send_json(hello_text);
    auto text = peer.read_json();
    if (welcome) *welcome = text.value_or("");
    return peer;
}

bool Peer::send_bytes(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t sent =
            ::send(fd_.get(), bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent <= 0) return false;
        done += static_cast<std::size_t>(sent);
    }
    return true;
}

bool Peer::send_frame(std::uint8_t type, const std::string& payload) {
    return send_bytes(frame_header(static_cast<std::uint32_t>(payload.size() + 1), type) + payload);
}

bool Peer::send_audio(std::uint32_t stream, const std::string& data, std::uint64_t tag) {
    return send_frame(2, be32(stream) + be64(tag) + data);
}

bool Peer::read_exact(char* data, std::size_t size,
                      std::chrono::steady_clock::time_point deadline) {
    while (size > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd_.get(), POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
        const ssize_t got = ::recv(fd_.get(), data, size, 0);
        if (got <= 0) return false;
        data += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

std::optional<Frame> Peer::read_frame(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    unsigned char header[5];
    if (!read_exact(reinterpret_cast<char*>(header), 5, deadline)) return std::nullopt;
    const std::uint32_t length = (std::uint32_t{header[0]} << 24) |
                                 (std::uint32_t{header[1]} << 16) |
                                 (std::uint32_t{header[2]} << 8) | header[3];
    if (length == 0) return std::nullopt;
    Frame frame;
    frame.type = header[4];
    frame.payload.resize(length - 1);
    if (!read_exact(frame.payload.data(), frame.payload.size(), deadline)) return std::nullopt;
    return frame;
}

std::optional<std::string> Peer::read_json(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        auto frame = read_frame(left);
        if (!frame) return std::nullopt;
        if (frame->type == 1) return frame->payload;
    }
}

std::optional<std::string> Peer::read_message(const std::string& type,
                                              std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        auto text = read_json(left);
        if (!text) return std::nullopt;
        Json message;
        parse_json(*text, message);
        if (message.get("t").as_string("") == type) return text;
    }
}

bool Peer::wait_closed(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    char buffer[65536];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd_.get(), POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
        const ssize_t got = ::recv(fd_.get(), buffer, sizeof buffer, 0);
        if (got <= 0) return true;
    }
}

bool Peer::stays_silent(std::chrono::milliseconds time) {
    pollfd p{fd_.get(), POLLIN, 0};
    return ::poll(&p, 1, static_cast<int>(time.count())) == 0;
}

void ping_without_reading(int fd, std::atomic<bool>& stuck, const std::atomic<bool>& done) {
    const std::string ping_text = R"({"t":"ping"})";
    std::string pings;
    for (int i = 0; i < 64; ++i)
        pings += frame_header(std::uint32_t(ping_text.size() + 1), 1) + ping_text;
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    pollfd writable{fd, POLLOUT, 0};
    while (!done.load() && std::chrono::steady_clock::now() < deadline) {
        if (poll(&writable, 1, 1000) != 1) {
            stuck.store(true);
            continue;
        }
        if (::send(fd, pings.data(), pings.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0 &&
            errno != EAGAIN)
            return;
    }
}

}  // namespace ondelle::test

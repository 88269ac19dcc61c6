// One TCP connection: whole-frame sends under the send mutex, frames received and decoded.
#include "conn.h"

#include <algorithm>
#include <cstring>

namespace ondelle {
namespace {

void put_u16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}

void put_u32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

void put_u64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (56 - 8 * i));
}

std::uint16_t get_u16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

std::uint32_t get_u32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}

std::uint64_t get_u64(const std::uint8_t* p) {
    return (std::uint64_t{get_u32(p)} << 32) | get_u32(p + 4);
}

// Bytes a growing receive buffer takes on at a time.
constexpr std::size_t growth_step = 16384;

}  // namespace

Conn::Conn(net::SocketHandle socket, std::string peer_text)
    : peer(std::move(peer_text)), socket_(socket) {}

Conn::~Conn() {
    close();
}

bool Conn::send_json(const Json& message, SendDeadline deadline) {
    return send_json_text(dump_json(message), deadline);
}

bool Conn::send_json_text(std::string_view text, SendDeadline deadline) {
    if (text.size() > max_control_text) return false;
    std::uint8_t header[5];
    put_u32(header, static_cast<std::uint32_t>(text.size() + 1));
    header[4] = Control;
    return send_frame({{header, sizeof header}, {text.data(), text.size()}}, deadline);
}

bool Conn::send_blob(std::uint8_t kind, std::uint32_t stream, const std::string& id,
                     const std::string& mime, std::uint64_t offset, std::uint64_t total,
                     const void* data, std::size_t size) {
    if (id.size() > 65535 || mime.size() > 255) return false;
    if (size > max_frame_length || size + id.size() + mime.size() + 25 > max_frame_length) {
        return false;
    }
    const auto length = static_cast<std::uint32_t>(size + id.size() + mime.size() + 25);
    std::uint8_t head[12];
    put_u32(head, length);
    head[4] = Blob;
    head[5] = kind;
    put_u32(head + 6, stream);
    put_u16(head + 10, static_cast<std::uint16_t>(id.size()));
    const auto mime_length = static_cast<std::uint8_t>(mime.size());
    std::uint8_t numbers[16];
    put_u64(numbers, offset);
    put_u64(numbers + 8, total);
    return send_frame({{head, sizeof head},
                       {id.data(), id.size()},
                       {&mime_length, 1},
                       {mime.data(), mime.size()},
                       {numbers, sizeof numbers},
                       {data, size}},
                      send_deadline());
}

bool Conn::send_audio(std::uint32_t stream, std::uint64_t tag, const void* data, std::size_t size,
                      SendDeadline deadline) {
    if (size > max_frame_length - 13) return false;
    std::uint8_t header[17];
    put_u32(header, static_cast<std::uint32_t>(size + 13));
    header[4] = Audio;
    put_u32(header + 5, stream);
    put_u64(header + 9, tag);
    return send_frame({{header, sizeof header}, {data, size}}, deadline);
}

bool Conn::send_frame(std::initializer_list<Piece> pieces, SendDeadline deadline) {
    {
        std::unique_lock lock(send_mutex_);
        if (!send_gate_.wait_until(lock, deadline, [this] { return !sending_; })) {
            // Another thread has been sending to this peer all this time.
            lock.unlock();
            give_up_on_slow_peer();
            return false;
        }
        sending_ = true;
    }
    bool sent = false;
    const net::SocketHandle socket = socket_.load();
    if (socket != net::no_socket) {
        sent = true;
        for (const Piece& piece : pieces) {
            if (!send_all(socket, piece, deadline)) {
                sent = false;
                break;
            }
        }
    }
    {
        std::lock_guard lock(send_mutex_);
        sending_ = false;
    }
    send_gate_.notify_one();
    return sent;
}

bool Conn::send_all(net::SocketHandle socket, const Piece& piece, SendDeadline deadline) {
    const auto* p = static_cast<const std::uint8_t*>(piece.data);
    std::size_t size = piece.size;
    while (size > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !net::set_send_timeout(socket, static_cast<long>(left.count()))) {
            give_up_on_slow_peer();
            return false;
        }
        const long sent = net::send_some(socket, p, size);
        if (sent <= 0) {
            if (sent < 0 && net::send_timed_out()) give_up_on_slow_peer();
            return false;
        }
        p += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

void Conn::give_up_on_slow_peer() {
    if (!send_timed_out_.exchange(true)) shutdown();
}

bool Conn::receive_exact(net::SocketHandle socket, void* data, std::size_t size) {
    auto* p = static_cast<std::uint8_t*>(data);
    while (size > 0) {
        const long got = net::receive_some(socket, p, size);
        if (got <= 0) return false;
        p += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

bool Conn::receive_exact_two(net::SocketHandle socket, std::uint8_t* first, std::size_t first_size,
                             std::uint8_t* second, std::size_t second_size) {
    // Both parts in as few calls as the socket allows; the data lands in place, uncopied.
    while (first_size > 0) {
        const long got = net::receive_some_into(socket, first, first_size, second, second_size);
        if (got <= 0) return false;
        const auto n = static_cast<std::size_t>(got);
        if (n < first_size) {
            first += n;
            first_size -= n;
        } else {
            second += n - first_size;
            second_size -= n - first_size;
            first_size = 0;
        }
    }
    return receive_exact(socket, second, second_size);
}

bool Conn::receive(Message& message) {
    const net::SocketHandle socket = socket_.load();
    if (socket == net::no_socket) return false;
    std::uint8_t header[5];
    if (!receive_exact(socket, header, sizeof header)) return false;
    const std::uint32_t length = get_u32(header);
    if (length == 0 || length > max_frame_length) return false;
    message.type = header[4];
    message.json = Json();

    if (message.type == Audio) {
        if (length < 13) return false;
        std::uint8_t audio_header[12];
        message.data.resize(length - 13);
        if (!receive_exact_two(socket, audio_header, sizeof audio_header, message.data.data(),
                               message.data.size())) {
            return false;
        }
        message.stream = get_u32(audio_header);
        message.audio_tag = get_u64(audio_header + 4);
        message.text.clear();
        return true;
    }

    if (message.type == Blob) {
        if (length < 25) return false;
        std::uint8_t blob_header[7];
        if (!receive_exact(socket, blob_header, sizeof blob_header)) return false;
        message.blob_kind = blob_header[0];
        message.stream = get_u32(blob_header + 1);
        const std::uint16_t id_length = get_u16(blob_header + 5);
        if (length < 25u + id_length) return false;
        message.blob_id.resize(id_length);
        if (!receive_exact(socket, message.blob_id.data(), id_length)) return false;
        std::uint8_t mime_length = 0;
        if (!receive_exact(socket, &mime_length, 1)) return false;
        if (length < 25u + id_length + mime_length) return false;
        message.blob_mime.resize(mime_length);
        if (!receive_exact(socket, message.blob_mime.data(), mime_length)) return false;
        std::uint8_t numbers[16];
        if (!receive_exact(socket, numbers, sizeof numbers)) return false;
        message.blob_offset = get_u64(numbers);
        message.blob_total = get_u64(numbers + 8);
        message.text.clear();
        return receive_growing(socket, message.data, length - 25u - id_length - mime_length);
    }

    message.data.clear();
    if (!receive_growing(socket, message.text, length - 1)) return false;
    if (message.type == Control) parse_json(message.text, message.json);
    return true;
}

template <class Buffer>
bool Conn::receive_growing(net::SocketHandle socket, Buffer& buffer, std::size_t size) {
    buffer.clear();
    while (buffer.size() < size) {
        const std::size_t at = buffer.size();
        const std::size_t step = std::min(size - at, std::max(growth_step, buffer.capacity() - at));
        buffer.resize(at + step);
        if (!receive_exact(socket, buffer.data() + at, step)) return false;
    }
    return true;
}

void Conn::shutdown() {
    std::lock_guard lock(handle_mutex_);
    const net::SocketHandle socket = socket_.load();
    if (socket != net::no_socket) net::shutdown_both(socket);
}

void Conn::close() {
    net::SocketHandle socket;
    {
        std::lock_guard lock(handle_mutex_);
        socket = socket_.exchange(net::no_socket);
        if (socket == net::no_socket) return;
        net::shutdown_both(socket);
    }
    // A send on another thread may still be using the handle; the shutdown has made it fail,
    // so wait for it to let go before the number can be reused for another connection.
    {
        std::unique_lock wait_for_sender(send_mutex_);
        send_gate_.wait(wait_for_sender, [this] { return !sending_; });
    }
    net::close_socket(socket);
}

}  // namespace ondelle

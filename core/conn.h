// One peer connection: whole-frame sends from any thread, exact reads by its session thread.
//
// A frame is a 4-byte big-endian length (type byte plus payload), the type byte and the
// payload. Control frames carry one JSON text, Audio frames a stream number, an opaque
// 64-bit value and audio bytes, Blob frames a named binary object.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <string>
#include <string_view>

#include "json.h"
#include "support/bytes.h"
#include "support/socket.h"

namespace ondelle {

inline constexpr std::uint32_t max_frame_length = 1048576;
inline constexpr std::size_t max_control_text = max_frame_length - 1;

enum FrameType : std::uint8_t { Control = 1, Audio = 2, Blob = 3 };

// How long a peer may take to accept one frame. A peer that takes longer is shut down, so
// that nobody who sends to it waits longer than this.
inline constexpr std::chrono::milliseconds send_time_limit{3000};
using SendDeadline = std::chrono::steady_clock::time_point;

inline SendDeadline send_deadline() {
    return std::chrono::steady_clock::now() + send_time_limit;
}
enum BlobKind : std::uint8_t { FileData = 1, LibraryArt = 2, StreamArt = 3 };

// One received frame. Kept by its session and refilled by every receive; the buffers are
// resized, never given up, so a long stream of frames reuses their capacity.
struct Message {
    std::uint8_t type = 0;
    Json json;         // parsed text of a Control frame, Null otherwise
    std::string text;  // payload of every frame that is neither Audio nor Blob
    std::uint32_t stream = 0;
    std::uint64_t audio_tag = 0;  // the Audio frame's 64-bit value, passed through unread
    ByteVector data;              // data of Audio and Blob frames
    std::uint8_t blob_kind = 0;
    std::string blob_id;
    std::string blob_mime;
    std::uint64_t blob_offset = 0;
    std::uint64_t blob_total = 0;
};

class Conn {
  public:
    Conn(net::SocketHandle socket, std::string peer_text);
    ~Conn();
    Conn(const Conn&) = delete;
    Conn& operator=(const Conn&) = delete;

    // Written by the session thread during the handshake only, before the connection is
    // placed in any list; read by other threads afterwards.
    std::int32_t proto = 1;
    std::string role = "stream";
    std::string sender_id;
    bool binary = false;
    bool burst = false;
    const std::string peer;

    // Any thread. True when the whole frame went out by the deadline (send_time_limit from
    // now unless given); a peer that does not take it by then is shut down.
    bool send_json(const Json& message) { return send_json(message, send_deadline()); }
    bool send_json(const Json& message, SendDeadline deadline);
    // A Control frame of JSON text already written (the status thread writes its reports into
    // a buffer it keeps, so that reporting allocates nothing).
    bool send_json_text(std::string_view text, SendDeadline deadline);
    bool send_blob(std::uint8_t kind, std::uint32_t stream, const std::string& id,
                   const std::string& mime, std::uint64_t offset, std::uint64_t total,
                   const void* data, std::size_t size);

    // An Audio frame, as a sender writes it: the stream, the 64-bit value and the data.
    bool send_audio(std::uint32_t stream, std::uint64_t tag, const void* data, std::size_t size,
                    SendDeadline deadline);

    // True once a send ran out of time and the connection was shut down for it.
    bool send_timed_out() const { return send_timed_out_.load(); }

    // The owning session thread only. True when a whole frame was read and stored.
    bool receive(Message& message);

    // Any thread: makes every pending and later send and receive fail; the socket stays open.
    void shutdown();
    // Shuts down and closes; a second call does nothing.
    void close();

    bool is_open() const { return socket_.load() != net::no_socket; }

  private:
    // Sends the pieces of one frame in order, all by the deadline.
    struct Piece {
        const void* data;
        std::size_t size;
    };
    bool send_frame(std::initializer_list<Piece> pieces, SendDeadline deadline);
    bool send_all(net::SocketHandle socket, const Piece& piece, SendDeadline deadline);
    void give_up_on_slow_peer();

    bool receive_exact(net::SocketHandle socket, void* data, std::size_t size);
    // Reads size bytes into text or data, growing it as the bytes arrive, so that a frame
    // whose header announced much and whose bytes never come costs little.
    template <class Buffer>
    bool receive_growing(net::SocketHandle socket, Buffer& buffer, std::size_t size);
    bool receive_exact_two(net::SocketHandle socket, std::uint8_t* first, std::size_t first_size,
                           std::uint8_t* second, std::size_t second_size);

    std::atomic<net::SocketHandle> socket_;
    std::atomic<bool> send_timed_out_{false};
    // Whole frames, one at a time: a sender waits for the gate until its deadline (a mutex
    // and a flag rather than a timed mutex, whose clock waits the thread checker cannot see).
    std::mutex send_mutex_;
    std::condition_variable send_gate_;
    bool sending_ = false;     // under send_mutex_; a frame is being written
    std::mutex handle_mutex_;  // orders shutdown against close, so a reused handle is never hit
};

}  // namespace ondelle

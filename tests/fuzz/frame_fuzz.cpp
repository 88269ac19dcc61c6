// libFuzzer target: any byte stream a peer could send, cut into frames by Conn::receive until
// it ends. No input may crash, read out of bounds or leave receive waiting.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "conn.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) return 0;
    const int buffer = 1 << 20;
    setsockopt(ends[0], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    // The whole input goes in first (inputs stay below the socket buffer), then the end.
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n = write(ends[0], data + written, size - written);
        if (n <= 0) break;
        written += static_cast<std::size_t>(n);
    }
    shutdown(ends[0], SHUT_WR);
    {
        ondelle::Conn conn(ends[1], "fuzz");
        ondelle::Message message;
        for (int frames = 0; frames < 100000 && conn.receive(message); ++frames) {
            if (message.type == ondelle::Audio && message.text.size() != 0) __builtin_trap();
        }
    }
    close(ends[0]);
    return 0;
}

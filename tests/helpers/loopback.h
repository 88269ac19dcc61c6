// Real loopback TCP sockets for tests.
#pragma once

#include <utility>

namespace ondelle::test {

// A file descriptor closed on destruction.
class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    void reset();

  private:
    int fd_ = -1;
};

// A connected pair on 127.0.0.1: first the connecting side, second the accepted side.
std::pair<Fd, Fd> loopback_pair();

// Connects to host (an IPv4 or IPv6 literal) and port, from the source address when one is
// given, with small socket buffers when asked (a peer that is to stop reading early); an
// empty Fd when that fails.
Fd connect_to(const char* host, int port, const char* source = nullptr,
              bool small_buffers = false);

// Sets a small receive buffer, for tests that need a peer which stops reading early.
void shrink_buffers(int fd);

}  // namespace ondelle::test

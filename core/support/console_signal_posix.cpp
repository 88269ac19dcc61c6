// Console signals on POSIX systems: the signal handler writes one byte to a pipe, and a
// watcher thread reads it and calls the handler, so that the handler never runs on a thread
// that the signal interrupted while it held a lock.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <system_error>
#include <thread>

#include "support/console_signal.h"
#include "support/thread.h"

namespace ondelle {
namespace {

constexpr char signalled = 's';
constexpr char quit = 'q';

// The write end of the current watcher's pipe; -1 when nobody watches. Only the signal
// handler reads it, which can reach nothing else.
std::atomic<int> signal_pipe{-1};
// Set by the handler itself (a lock-free store is safe there).
std::atomic<bool> signal_received{false};

extern "C" void on_console_signal(int) {
    signal_received.store(true);
    const int saved_errno = errno;
    const int fd = signal_pipe.load();
    if (fd >= 0) (void)!write(fd, &signalled, 1);
    errno = saved_errno;
}

}  // namespace

struct ConsoleSignals::Watch {
    int read_fd = -1;
    int write_fd = -1;
    std::thread thread;

    ~Watch() {
        if (read_fd >= 0) close(read_fd);
        if (write_fd >= 0) close(write_fd);
    }
};

ConsoleSignals::ConsoleSignals(std::function<void()> on_signal) : watch_(std::make_unique<Watch>()) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::system_error(errno, std::generic_category(), "console signal pipe");
    watch_->read_fd = fds[0];
    watch_->write_fd = fds[1];
    // The reading end waits; only the writing end must never block a signal handler.
    fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) & ~O_NONBLOCK);
    const int read_fd = fds[0];
    watch_->thread = start_thread("console signals", [read_fd, on_signal = std::move(on_signal)] {
        // Never on this thread: a handler that ran here, while it waits for the pipe, could
        // not wake it (ThreadSanitizer, for one, defers handlers to the next call it sees).
        sigset_t stop_signals;
        sigemptyset(&stop_signals);
        sigaddset(&stop_signals, SIGINT);
        sigaddset(&stop_signals, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
        for (;;) {
            char byte = 0;
            const ssize_t n = read(read_fd, &byte, 1);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0 || byte == quit) return;
            on_signal();
        }
    });
    signal_pipe.store(fds[1]);
    struct sigaction action {};
    action.sa_handler = on_console_signal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: the call the signal interrupts returns, so that a runtime which runs
    // handlers only between calls (ThreadSanitizer's does) gets to run it; the endpoint is
    // stopping then anyway.
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

ConsoleSignals::~ConsoleSignals() {
    // The handler stays installed and finds no pipe: a late signal does nothing.
    signal_pipe.store(-1);
    while (write(watch_->write_fd, &quit, 1) < 0 && errno == EINTR) {
    }
    if (watch_->thread.joinable()) watch_->thread.join();
}

bool ConsoleSignals::received() const {
    return signal_received.load();
}

}  // namespace ondelle

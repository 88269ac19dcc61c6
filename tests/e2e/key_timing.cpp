// A pseudo-terminal for ondelle-send, and the key timings taken through it.
#include "e2e/key_timing.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

extern char** environ;

namespace ondelle::test {
namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

std::size_t size_of(const std::string& path) {
    std::error_code ignored;
    const auto size = std::filesystem::file_size(path, ignored);
    return ignored ? 0 : std::size_t(size);
}

std::size_t count_of(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// Waits until done() or the time is up; when it happened, or nothing.
template <class Done>
std::optional<Clock::time_point> wait_until(Done done, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        if (done()) return Clock::now();
        std::this_thread::sleep_for(5ms);
    }
    return std::nullopt;
}

}  // namespace

SenderAtTerminal::SenderAtTerminal(const TempDir& dir, std::vector<std::string> arguments) {
    static int serial = 0;
    err_path_ = dir.path("terminal-err" + std::to_string(++serial) + ".txt");
    terminal_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal_ < 0 || grantpt(terminal_) != 0 || unlockpt(terminal_) != 0) return;
    const std::string screen = ptsname(terminal_);
    arguments.insert(arguments.begin(), ONDELLE_SEND_PATH);
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, screen.c_str(), O_RDWR | O_NOCTTY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, screen.c_str(), O_RDWR | O_NOCTTY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    screen_ = std::thread([this] {
        char buffer[4096];
        while (!done_.load()) {
            pollfd p{terminal_, POLLIN, 0};
            if (::poll(&p, 1, 50) == 1 && ::read(terminal_, buffer, sizeof buffer) <= 0)
                std::this_thread::sleep_for(10ms);
        }
    });
}

SenderAtTerminal::~SenderAtTerminal() {
    if (pid_ > 0 && status_ == -1) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    done_.store(true);
    if (screen_.joinable()) screen_.join();
    if (terminal_ >= 0) close(terminal_);
}

void SenderAtTerminal::press(char key) {
    if (terminal_ >= 0) (void)::write(terminal_, &key, 1);
}

int SenderAtTerminal::wait_exit(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (pid_ > 0 && status_ == -1 && Clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        std::this_thread::sleep_for(10ms);
    }
    return status_;
}

std::optional<KeyTimes> measure_keys(const TempDir& dir, const Program& endpoint,
                                     const std::string& capture, const std::string& to,
                                     const std::string& first, const std::string& second,
                                     const std::string& second_opens) {
    SenderAtTerminal sender(dir, {"--to", to, first, second});
    // Playing for a while, so that the endpoint holds all it may.
    if (!wait_until([&] { return size_of(capture) > 0; }, 10s)) return std::nullopt;
    std::this_thread::sleep_for(2s);
    KeyTimes times;

    // Pause: the device takes its last audio.
    auto pressed = Clock::now();
    sender.press(' ');
    std::size_t size = size_of(capture);
    auto last_growth = pressed;
    const auto settle = Clock::now() + 5s;
    while (Clock::now() < settle && Clock::now() - last_growth < 300ms) {
        std::this_thread::sleep_for(5ms);
        if (const std::size_t now = size_of(capture); now != size) {
            size = now;
            last_growth = Clock::now();
        }
    }
    times.pause_ms = ms_since(pressed, last_growth);
    sender.press(' ');
    if (!wait_until([&] { return size_of(capture) > size; }, 3s)) return std::nullopt;
    std::this_thread::sleep_for(500ms);

    // Next: the endpoint opens the second file's format.
    const std::size_t opened = count_of(endpoint.err(), second_opens);
    pressed = Clock::now();
    sender.press('n');
    const auto next =
        wait_until([&] { return count_of(endpoint.err(), second_opens) > opened; }, 5s);
    if (!next) return std::nullopt;
    times.next_ms = ms_since(pressed, *next);
    std::this_thread::sleep_for(500ms);

    // Quit: the endpoint sees the sender leave.
    const std::size_t left = count_of(endpoint.err(), "sender left: ");
    pressed = Clock::now();
    sender.press('q');
    const auto quit =
        wait_until([&] { return count_of(endpoint.err(), "sender left: ") > left; }, 5s);
    if (!quit) return std::nullopt;
    times.quit_ms = ms_since(pressed, *quit);
    if (sender.wait_exit() != 0) return std::nullopt;
    return times;
}

}  // namespace ondelle::test

// Keys in non-canonical mode, read by a thread of their own with a bounded poll.
#include "terminal.h"

#include <poll.h>
#include <unistd.h>

#include <cstdio>

#include "support/thread.h"

namespace ondelle::send {

Terminal::Terminal() {
    interactive_ =
        isatty(STDIN_FILENO) && isatty(STDOUT_FILENO) && tcgetattr(STDIN_FILENO, &saved_) == 0;
    if (!interactive_) return;
    termios raw = saved_;
    raw.c_lflag &= ~tcflag_t(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    keys_ = start_thread("keys", [this] {
        while (!stop_.load()) {
            pollfd input{STDIN_FILENO, POLLIN, 0};
            if (poll(&input, 1, 100) != 1) continue;
            char key = 0;
            if (read(STDIN_FILENO, &key, 1) != 1) return;
            key_.store(key);
        }
    });
}

Terminal::~Terminal() {
    if (!interactive_) return;
    stop_.store(true);
    keys_.join();
    finish_line();
    tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
}

void Terminal::give_back() const {
    if (interactive_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
}

char Terminal::take_key() {
    return key_.exchange(0);
}

void Terminal::show(const std::string& line) {
    if (!interactive_) return;
    std::printf("\r\x1b[K%s", line.c_str());
    std::fflush(stdout);
    line_open_ = true;
}

void Terminal::finish_line() {
    if (!line_open_) return;
    std::printf("\n");
    std::fflush(stdout);
    line_open_ = false;
}

}  // namespace ondelle::send

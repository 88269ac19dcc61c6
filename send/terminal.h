// The terminal while ondelle-send plays: keys read one at a time without echo, and one
// progress line rewritten in place. Without a terminal it does nothing.
#pragma once

#include <termios.h>

#include <atomic>
#include <string>
#include <thread>

namespace ondelle::send {

class Terminal {
  public:
    // Takes the terminal only when both standard input and output are one.
    Terminal();
    ~Terminal();  // gives the terminal back as it was
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    bool interactive() const { return interactive_; }
    // The last key pressed since the previous call, or 0.
    char take_key();
    // Rewrites the progress line.
    void show(const std::string& line);
    // Ends the progress line, so that what follows starts on a line of its own.
    void finish_line();
    // Puts the terminal back as it was, from any thread, for a process about to end at once.
    void give_back() const;

  private:
    bool interactive_ = false;
    termios saved_{};
    std::atomic<char> key_{0};
    std::atomic<bool> stop_{false};
    std::thread keys_;
    bool line_open_ = false;
};

}  // namespace ondelle::send

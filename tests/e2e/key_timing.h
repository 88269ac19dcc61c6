// ondelle-send as a person runs it, at a terminal (a pseudo-terminal the test holds): keys
// typed, the screen drained. And the time from each key to what the endpoint does about it.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "e2e/program.h"

namespace ondelle::test {

class SenderAtTerminal {
  public:
    SenderAtTerminal(const TempDir& dir, std::vector<std::string> arguments);
    ~SenderAtTerminal();  // kills what still runs
    SenderAtTerminal(const SenderAtTerminal&) = delete;
    SenderAtTerminal& operator=(const SenderAtTerminal&) = delete;

    void press(char key);
    // The exit code, or -1 when it does not end in time.
    int wait_exit(std::chrono::milliseconds timeout = 10s);
    std::string err() const { return read_file(err_path_); }

  private:
    std::string err_path_;
    int terminal_ = -1;  // the side the person types on
    pid_t pid_ = -1;
    int status_ = -1;
    std::atomic<bool> done_{false};
    std::thread screen_;  // drains what the program shows
};

struct KeyTimes {
    double pause_ms = -1;  // from space to the last audio the device took
    double next_ms = -1;   // from n to the endpoint opening the next file's format
    double quit_ms = -1;   // from q to the endpoint seeing the sender leave
};

// Plays first (some seconds long) then second (at another rate, whose opening the endpoint
// logs with second_opens) to the endpoint at `to`, pressing space, space, n and q, and times
// each key's effect on the endpoint and its capture. Empty when the run did not get that far.
std::optional<KeyTimes> measure_keys(const TempDir& dir, const Program& endpoint,
                                     const std::string& capture, const std::string& to,
                                     const std::string& first, const std::string& second,
                                     const std::string& second_opens);

}  // namespace ondelle::test

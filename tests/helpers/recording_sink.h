// A Sink for tests: takes every write at once and records each call and every byte, with a
// delay and an underrun count the test sets, an open that can be made to fail, and writes
// that can be held back to stand for a stalled device.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "sink.h"

namespace ondelle::test {

class RecordingSink : public Sink {
  public:
    bool open(const Format& format, std::string& error) override;
    std::uint64_t write(const std::uint8_t* data, std::uint64_t frames) override;
    void pause(bool paused) override { record(paused ? "pause" : "resume"); }
    void flush() override { record("flush"); }
    void drain() override { record("drain"); }
    void close() override;
    void set_gain(bool processed, double gain_db) override;
    std::int64_t delay() override;
    std::uint64_t underruns() override;

    // Calls in order: "open pcm/44100/16/2", "write 882", "pause", "resume", "flush", "drain",
    // "close", "gain 0 nan".
    std::vector<std::string> calls();
    std::vector<std::uint8_t> played();  // every byte written, in order
    bool wait_for(const std::function<bool(const std::vector<std::string>&)>& done,
                  std::chrono::milliseconds timeout = std::chrono::seconds(5));
    bool wait_for_call(const std::string& call,
                       std::chrono::milliseconds timeout = std::chrono::seconds(5));
    bool wait_for_bytes(std::size_t bytes,
                        std::chrono::milliseconds timeout = std::chrono::seconds(5));

    void fail_opens(const std::string& error);
    void hold_writes(bool hold);
    void set_delay(std::int64_t frames);
    void set_underruns(std::uint64_t count);
    // Each write then takes as long as its audio lasts, like a device playing in real time.
    void play_in_real_time(bool on);

  private:
    void record(const std::string& call);

    std::mutex mutex_;
    std::condition_variable cond_;
    std::vector<std::string> calls_;
    std::vector<std::uint8_t> played_;
    Format format_;
    bool open_ = false;
    bool hold_ = false;
    bool real_time_ = false;
    std::string open_error_;
    std::int64_t delay_ = 0;
    std::uint64_t underruns_ = 0;
};

}  // namespace ondelle::test

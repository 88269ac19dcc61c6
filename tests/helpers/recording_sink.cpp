#include "helpers/recording_sink.h"

#include <algorithm>
#include <cmath>
#include <thread>

namespace ondelle::test {

void RecordingSink::record(const std::string& call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(call);
    cond_.notify_all();
}

bool RecordingSink::open(const Format& format, std::string& error) {
    std::lock_guard lock(mutex_);
    calls_.push_back("open " + format.kind + "/" + std::to_string(format.rate) + "/" +
                     std::to_string(format.bits) + "/" + std::to_string(format.channels));
    cond_.notify_all();
    if (!open_error_.empty()) {
        error = open_error_;
        return false;
    }
    format_ = format;
    open_ = true;
    return true;
}

std::uint64_t RecordingSink::write(const std::uint8_t* data, std::uint64_t frames) {
    std::unique_lock lock(mutex_);
    if (real_time_ && format_.frames_per_second() > 0) {
        const auto lasts =
            std::chrono::microseconds(frames * 1000000 / format_.frames_per_second());
        lock.unlock();
        std::this_thread::sleep_for(lasts);
        lock.lock();
    }
    cond_.wait(lock, [&] { return !hold_ || !open_; });
    if (!open_) return 0;
    calls_.push_back("write " + std::to_string(frames));
    played_.insert(played_.end(), data, data + frames * format_.frame_bytes());
    cond_.notify_all();
    return frames;
}

void RecordingSink::close() {
    std::lock_guard lock(mutex_);
    calls_.push_back("close");
    open_ = false;
    cond_.notify_all();
}

void RecordingSink::set_gain(bool processed, double gain_db) {
    std::string db = std::isnan(gain_db) ? "nan" : std::to_string(static_cast<int>(gain_db));
    record("gain " + std::to_string(processed) + " " + db);
}

std::int64_t RecordingSink::delay() {
    std::lock_guard lock(mutex_);
    return open_ ? delay_ : 0;
}

std::uint64_t RecordingSink::underruns() {
    std::lock_guard lock(mutex_);
    return underruns_;
}

std::vector<std::string> RecordingSink::calls() {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::vector<std::uint8_t> RecordingSink::played() {
    std::lock_guard lock(mutex_);
    return played_;
}

bool RecordingSink::wait_for(const std::function<bool(const std::vector<std::string>&)>& done,
                             std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return cond_.wait_for(lock, timeout, [&] { return done(calls_); });
}

bool RecordingSink::wait_for_call(const std::string& call, std::chrono::milliseconds timeout) {
    return wait_for(
        [&](const auto& calls) {
            return std::find(calls.begin(), calls.end(), call) != calls.end();
        },
        timeout);
}

bool RecordingSink::wait_for_bytes(std::size_t bytes, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return cond_.wait_for(lock, timeout, [&] { return played_.size() >= bytes; });
}

void RecordingSink::fail_opens(const std::string& error) {
    std::lock_guard lock(mutex_);
    open_error_ = error;
}

void RecordingSink::hold_writes(bool hold) {
    std::lock_guard lock(mutex_);
    hold_ = hold;
    cond_.notify_all();
}

void RecordingSink::set_delay(std::int64_t frames) {
    std::lock_guard lock(mutex_);
    delay_ = frames;
}

void RecordingSink::play_in_real_time(bool on) {
    std::lock_guard lock(mutex_);
    real_time_ = on;
}

void RecordingSink::set_underruns(std::uint64_t count) {
    std::lock_guard lock(mutex_);
    underruns_ = count;
}

}  // namespace ondelle::test

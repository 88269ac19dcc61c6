// An endpoint listening on a free loopback port, its accept loop on a thread of its own,
// collecting its log lines.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "endpoint.h"

namespace ondelle::test {

class RunningEndpoint {
    // Declared first so that it outlives the endpoint, whose sessions log while they end.
    std::mutex log_mutex_;
    std::condition_variable log_cond_;
    std::vector<std::string> log_lines_;

  public:
    explicit RunningEndpoint(EndpointSettings settings = {}, Sink* sink = nullptr,
                             const std::function<void(Endpoint&)>& install = {})
        : endpoint(std::move(settings), sink) {
        endpoint.on_log = [this](const std::string& line) {
            std::lock_guard lock(log_mutex_);
            log_lines_.push_back(line);
            log_cond_.notify_all();
        };
        if (install) install(endpoint);
        std::string error;
        if (!endpoint.listen(0, error)) throw std::runtime_error(error);
        port = endpoint.local_port();
        accept_result = std::async(std::launch::async, [this] { return endpoint.run(); });
    }
    ~RunningEndpoint() {
        endpoint.stop();
        if (accept_result.valid()) accept_result.wait();
    }

    bool wait_for_log(const std::string& line,
                      std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::unique_lock lock(log_mutex_);
        return log_cond_.wait_for(lock, timeout, [&] {
            return std::find(log_lines_.begin(), log_lines_.end(), line) != log_lines_.end();
        });
    }

    std::vector<std::string> log_lines() {
        std::lock_guard lock(log_mutex_);
        return log_lines_;
    }

    Endpoint endpoint;
    int port = 0;
    std::future<bool> accept_result;
};

}  // namespace ondelle::test

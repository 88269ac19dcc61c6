// The standard-input watch of local mode. Its thread is detached: it may block in ReadFile
// until the process ends, so it holds its own share of the endpoint pointer, which shutdown
// clears before the endpoint goes.
#include "local_mode.h"

#include <windows.h>

#include <mutex>

#include "endpoint.h"
#include "support/thread.h"

namespace ondelle::direct {

struct StopOnInputEnd::Target {
    std::mutex mutex;
    Endpoint* endpoint = nullptr;
};

StopOnInputEnd::StopOnInputEnd() : target_(std::make_shared<Target>()) {}

void StopOnInputEnd::start(Endpoint& endpoint) {
    {
        std::lock_guard lock(target_->mutex);
        target_->endpoint = &endpoint;
    }
    start_thread("input watch", [target = target_] {
        const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
        char chunk[64];
        DWORD read = 0;
        while (ReadFile(input, chunk, sizeof chunk, &read, nullptr) && read > 0) {
        }
        std::lock_guard lock(target->mutex);
        if (target->endpoint) target->endpoint->stop();
    }).detach();
}

void StopOnInputEnd::forget() {
    std::lock_guard lock(target_->mutex);
    target_->endpoint = nullptr;
}

}  // namespace ondelle::direct

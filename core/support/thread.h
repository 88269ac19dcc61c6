// Starting a named thread, with the one failure the core lets escape as an exception.
#pragma once

#include <system_error>
#include <thread>
#include <utility>

namespace ondelle {

// Names the calling thread for debuggers and `top -H` (at most 15 characters are kept).
void name_this_thread(const char* name);

// Throws std::system_error "thread constructor failed" when the system refuses a thread.
template <typename Body>
std::thread start_thread(const char* name, Body&& body) {
    try {
        return std::thread([name, body = std::forward<Body>(body)]() mutable {
            name_this_thread(name);
            body();
        });
    } catch (const std::system_error& e) {
        throw std::system_error(e.code(), "thread constructor failed");
    }
}

}  // namespace ondelle

// Starting a thread, with the one failure the core lets escape as an exception.
#pragma once

#include <system_error>
#include <thread>
#include <utility>

namespace ondelle {

// Throws std::system_error "thread constructor failed" when the system refuses a thread.
template <typename Body>
std::thread start_thread(Body&& body) {
    try {
        return std::thread(std::forward<Body>(body));
    } catch (const std::system_error& e) {
        throw std::system_error(e.code(), "thread constructor failed");
    }
}

}  // namespace ondelle

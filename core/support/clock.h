// The one monotonic clock of the core, in the units its timestamps are kept in.
#pragma once

#include <chrono>
#include <cstdint>

namespace ondelle {

inline std::int64_t steady_now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace ondelle

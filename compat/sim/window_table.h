// What the simulated drivers need of the window table.
#pragma once

#include <chrono>

namespace compat {

// A visible top-level window of this process that goes away by itself after time.
void show_window_for(std::chrono::milliseconds time);

}  // namespace compat

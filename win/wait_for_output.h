// Waiting at start for an output that is not there yet (a DAC switched off at boot).
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace ondelle {

class ServiceHost;

// Says once that it waits for what, then calls found every 3 s until it returns true (said
// too) or a console signal or the service's stop ends the wait (false). A service says it is
// running while it waits, so that it can be stopped and boot is not held up for it.
bool wait_for_output(std::string_view program, const std::string& what,
                     const std::function<bool()>& found, ServiceHost* service = nullptr);

}  // namespace ondelle

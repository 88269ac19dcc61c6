#pragma once

#include <string>

namespace ondelle::wasapi {

// Sends standard error to path: started afresh once it has grown past 1 MiB, appended to
// otherwise, with a header naming the device text, the port and the time, and every later
// line stamped with the local time. A file that cannot be written is said on standard
// error, which then stays where it was.
void redirect_errors_to_log(const std::string& path, const std::string& device, int port);

}  // namespace ondelle::wasapi

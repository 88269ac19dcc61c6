// Options are matched exactly; a value option takes the next argument whatever it is, or an
// empty value in last position; numbers read as atoi reads them.
#include "options.h"

#include <cstdlib>

namespace ondelle {

const char* const usage_text =
    "usage: Ondelle-Direct --list | --driver NAME [--name S] [--port N] [--buffer MS] "
    "[--volume fixed|software]\n"
    "                   [--any-address] [--local] [--panel]\n";

int Options::effective_port() const {
    if (port >= 0) return port;
    return local ? 0 : 4720;
}

std::int32_t Options::effective_buffer_ms() const {
    if (buffer_ms > 0) return buffer_ms;
    return local ? 500 : 2000;
}

bool parse_options(const std::vector<std::string>& arguments, Options& options) {
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& option = arguments[i];
        const auto value = [&]() -> std::string {
            return i + 1 < arguments.size() ? arguments[++i] : std::string();
        };
        if (option == "--list") {
            options.list = true;
        } else if (option == "--driver") {
            options.driver = value();
        } else if (option == "--name") {
            options.name = value();
        } else if (option == "--port") {
            options.port = std::atoi(value().c_str());
        } else if (option == "--buffer") {
            options.buffer_ms = std::atoi(value().c_str());
        } else if (option == "--volume") {
            options.software_volume = value() == "software";
        } else if (option == "--any-address") {
            options.any_address = true;
        } else if (option == "--local") {
            options.local = true;
        } else if (option == "--panel") {
            options.panel = true;
        } else if (option == "--no-output-ready") {
            options.no_output_ready = true;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace ondelle

// The command line of ondelle-wasapi and its usage text.
#include "options.h"

#include <cstdlib>

namespace ondelle {

const char* const usage_text =
    "usage: ondelle-wasapi [--device NAME] [--name S] [--port N] [--dop] [--buffer MS] "
    "[--away-buffer MS] [--away-burst MS] [--flac all|forwarded] [--local-sender ID] "
    "[--follow-system] [--mix] [--any-address] [--log FILE] [--list]\n";

bool parse_options(const std::vector<std::string>& arguments, Options& options) {
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& option = arguments[i];
        // A value option takes the next argument whatever it is; in last place, nothing.
        const auto value = [&]() -> std::string {
            return i + 1 < arguments.size() ? arguments[++i] : std::string();
        };
        if (option == "--device")
            options.device = value();
        else if (option == "--name")
            options.name = value();
        else if (option == "--port")
            options.port = std::atoi(value().c_str());
        else if (option == "--dop")
            options.dop = true;
        else if (option == "--buffer")
            options.buffer_ms = std::atoi(value().c_str());
        else if (option == "--away-buffer")
            options.away_buffer_ms = std::atoi(value().c_str());
        else if (option == "--away-burst")
            options.away_burst_ms = std::atoi(value().c_str());
        else if (option == "--flac")
            options.flac = value();
        else if (option == "--local-sender")
            options.local_sender = value();
        else if (option == "--follow-system")
            options.follow_system = true;
        else if (option == "--mix")
            options.mix = true;
        else if (option == "--any-address")
            options.any_address = true;
        else if (option == "--log")
            options.log = value();
        else if (option == "--list")
            options.list = true;
        else
            return false;
    }
    return true;
}

}  // namespace ondelle

// The command line of ondelle-send and its usage text.
#include "options.h"

#include <cstdlib>

namespace ondelle::send {

const char* const usage_text =
    "usage: ondelle-send --list\n"
    "       ondelle-send [--to NAME|HOST[:PORT]] [--volume N] FILE...\n";

bool parse_options(const std::vector<std::string>& arguments, Options& options) {
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool has_value = i + 1 < arguments.size();
        if (argument == "--list") {
            options.list = true;
        } else if (argument == "--to" && has_value) {
            options.to = arguments[++i];
        } else if (argument == "--volume" && has_value) {
            const std::string& text = arguments[++i];
            char* end = nullptr;
            const long volume = std::strtol(text.c_str(), &end, 10);
            if (text.empty() || *end != '\0' || volume < 0 || volume > 100) return false;
            options.volume = static_cast<int>(volume);
        } else if (argument.size() > 1 && argument[0] == '-') {
            return false;
        } else {
            options.files.push_back(argument);
        }
    }
    return options.list ? options.files.empty() : !options.files.empty();
}

}  // namespace ondelle::send

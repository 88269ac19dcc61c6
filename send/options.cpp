// The command line of ondelle-send: its usage text and its table of options.
#include "options.h"

namespace ondelle::send {

const char* const usage_text =
    "usage: ondelle-send --list\n"
    "       ondelle-send [--to NAME|HOST[:PORT]] [--volume N] [--wait-device] FILE...\n";

CommandLine command_line(Options& o) {
    CommandLine line;
    line.program = "ondelle-send";
    line.usage = usage_text;
    line.options = {
        switch_option("--list", "list the endpoints on the network with what they play, and exit",
                      o.list),
        text_option("--to", "NAME|HOST[:PORT]",
                    "play to the endpoint of that name, or at that address (port 4720 unless "
                    "given)",
                    "the only endpoint found", o.to),
        number_option("--volume", "N", "set the endpoint's volume before playing", "unchanged", 0,
                      100, o.volume),
        switch_option("--wait-device",
                      "when the endpoint's output goes away, wait for it and go on from there",
                      o.wait_device),
    };
    line.operand = [&o](const std::string& file) { o.files.push_back(file); };
    return line;
}

std::string missing(const Options& options) {
    if (options.list && !options.files.empty()) return "ondelle-send: --list takes no file";
    if (!options.list && options.files.empty()) return "ondelle-send: no file to play";
    return {};
}

}  // namespace ondelle::send

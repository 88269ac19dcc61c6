// The command line of ondelle-wasapi: its usage text and its table of options.
#include "options.h"

#include "program_name.h"

namespace ondelle::wasapi {
namespace {

constexpr int max_ms = 60000;

}  // namespace

const char* const usage_text =
    "usage: ondelle-wasapi [--device NAME] [--name S] [--port N] [--dop] [--buffer MS] "
    "[--away-buffer MS] [--away-burst MS] [--flac all|forwarded] [--local-sender ID] "
    "[--follow-system] [--mix] [--any-address] [--wait] [--log FILE] [--list] "
    "[--service] [--service-name NAME]\n"
    "       ondelle-wasapi --install-service [--force] [OPTION]... | --uninstall-service "
    "[--service-name NAME]\n";

CommandLine command_line(Options& o) {
    CommandLine line;
    line.program = program_name;
    line.usage = usage_text;
    line.options = {
        text_option("--device", "NAME",
                    "play to the render device of that name (else the first whose name "
                    "contains it, in that case or any)",
                    "the default device", o.device),
        text_option("--name", "S", "the name senders see", "computer \xc2\xb7 device", o.name),
        number_option("--port", "N", "the TCP port to serve", "4720", 0, 65535, o.port),
        switch_option("--dop", "also offer DSD, carried as DoP", o.dop),
        number_option("--buffer", "MS", "how much audio a sender may buffer here", "2000", 0,
                      max_ms, o.buffer_ms),
        number_option("--away-buffer", "MS",
                      "the buffer of a sender relayed over loopback from afar (0: as any other)",
                      "0", 0, max_ms, o.away_buffer_ms),
        number_option("--away-burst", "MS", "how far such a sender may send ahead", "0", 0, max_ms,
                      o.away_burst_ms),
        choice_option("--flac", {"all", "forwarded"},
                      "take FLAC streams from every sender, or only from relayed ones", "none",
                      o.flac),
        text_option("--local-sender", "ID", "the one sender on this PC that is not relayed", "",
                    o.local_sender),
        switch_option("--follow-system", "without a hardware volume, apply the Windows volume here",
                      o.follow_system),
        switch_option("--mix", "play through the Windows mixer instead of exclusive mode", o.mix),
        switch_option("--any-address", "take senders from any address, not only private ones",
                      o.any_address),
        switch_option("--wait",
                      "when the device is not there at start, wait for it (looked for every 3 s)",
                      o.wait),
        text_option("--log", "FILE", "write diagnostics to FILE instead of the console", "", o.log),
        switch_option("--list", "list every render device with what it plays, and exit", o.list),
    };
    for (OptionSpec& spec : service_option_specs(o.service, std::string(program_name)))
        line.options.push_back(std::move(spec));
    return line;
}

}  // namespace ondelle::wasapi

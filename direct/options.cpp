// Ondelle-Direct's command line: its usage text, its table of options and the defaults that
// depend on the mode.
#include "options.h"

#include "program_name.h"

namespace ondelle::direct {

const char* const usage_text =
    "usage: Ondelle-Direct --list | --driver NAME [--name S] [--port N] [--buffer MS] "
    "[--volume fixed|software]\n"
    "                   [--any-address] [--wait] [--local] [--panel] [--service] "
    "[--service-name NAME] [--log FILE]\n"
    "       Ondelle-Direct --install-service [--force] --driver NAME [OPTION]... | "
    "--uninstall-service [--service-name NAME]\n";

int Options::effective_port() const {
    if (port >= 0) return port;
    return local ? 0 : 4720;
}

std::int32_t Options::effective_buffer_ms() const {
    if (buffer_ms > 0) return buffer_ms;
    return local ? 500 : 2000;
}

CommandLine command_line(Options& o) {
    CommandLine line;
    line.program = program_name;
    line.usage = usage_text;
    line.options = {
        switch_option("--list", "list every ASIO driver with what it plays, and exit", o.list),
        text_option("--driver", "NAME",
                    "play to the ASIO driver of that name (else the first whose name contains "
                    "it, in that case or any)",
                    "the only one installed", o.driver),
        text_option("--name", "S", "the name senders see", "computer \xc2\xb7 driver", o.name),
        number_option("--port", "N", "the TCP port to serve", "4720; any free one with --local", 0,
                      65535, o.port),
        number_option("--buffer", "MS",
                      "how much audio a sender may buffer here, 0 for the default",
                      "2000; 500 with --local", 0, 60000, o.buffer_ms),
        choice_option("--volume", {"fixed", "software"},
                      "leave the volume to the DAC, or apply it here (dithered; no DSD then)",
                      "fixed", o.volume),
        switch_option("--any-address", "take senders from any address, not only private ones",
                      o.any_address),
        switch_option("--wait",
                      "when the driver is not there or does not play at start, wait for it "
                      "(looked for every 3 s)",
                      o.wait),
        switch_option("--local",
                      "serve 127.0.0.1 only, print \"port N\", stop when standard input closes",
                      o.local),
        switch_option("--panel", "open the driver's settings window, and exit once it is closed",
                      o.panel),
        switch_option("--no-output-ready", "never tell the driver its output is ready early",
                      o.no_output_ready),
        text_option("--log", "FILE", "with --service, the log file", "", o.log),
    };
    for (OptionSpec& spec : service_option_specs(o.service, std::string(program_name)))
        line.options.push_back(std::move(spec));
    return line;
}

}  // namespace ondelle::direct

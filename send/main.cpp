// ondelle-send: finds Ondelle endpoints on the network and plays files to one of them.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>

#include "browse.h"
#include "endpoint_link.h"
#include "exit_codes.h"
#include "options.h"
#include "playback.h"
#include "support/console_signal.h"
#include "support/text.h"
#include "terminal.h"

namespace ondelle::send {
namespace {

using namespace std::chrono_literals;

constexpr int default_port = 4720;
constexpr auto listen_for = 2s;

std::string host_name() {
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    return name;
}

Json hello(const std::string& role) {
    Json sender;
    sender.set("id", Json("ondelle-send"));
    sender.set("name", Json("ondelle-send on " + host_name()));
    Json message = make_message("hello");
    message.set("proto", Json(2));
    if (!role.empty()) message.set("role", Json(role));
    message.set("sender", std::move(sender));
    return message;
}

int list_endpoints() {
    const auto found = browse(listen_for);
    for (const FoundEndpoint& endpoint : found) {
        std::string error;
        std::string plays = "(does not answer)";
        if (auto link = EndpointLink::open(endpoint.address, endpoint.port, hello("control"),
                                           error))
            plays = read_offer(link->welcome()).describe();
        std::printf("%s  %s:%d  %s  %s\n", endpoint.name.c_str(), endpoint.address.c_str(),
                    endpoint.port, endpoint.model.empty() ? "-" : endpoint.model.c_str(),
                    plays.c_str());
    }
    if (found.empty()) std::fprintf(stderr, "ondelle-send: no endpoint found\n");
    return found.empty() ? no_endpoint : played;
}

struct Target {
    std::string host;
    int port = default_port;
};

bool is_ipv4(const std::string& text) {
    unsigned a, b, c, d;
    char extra;
    return std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &extra) == 4;
}

// HOST[:PORT] when the text reads as an address; false otherwise.
bool parse_address(const std::string& text, Target& target) {
    const auto colon = text.rfind(':');
    std::string host = text;
    int port = default_port;
    if (colon != std::string::npos) {
        const std::string digits = text.substr(colon + 1);
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos)
            return false;
        port = std::atoi(digits.c_str());
        host = text.substr(0, colon);
    }
    if (host.empty()) return false;
    target = {host, port};
    return colon != std::string::npos || is_ipv4(host) || host == "localhost";
}

// The endpoint --to names (or the only one found); false with the reason printed.
bool choose_target(const std::string& to, Target& target) {
    if (!to.empty() && parse_address(to, target)) return true;
    const auto found = browse(listen_for);
    const FoundEndpoint* chosen = nullptr;
    if (to.empty()) {
        if (found.size() == 1) chosen = &found.front();
        if (found.size() > 1) {
            std::string names;
            for (const auto& endpoint : found)
                names += (names.empty() ? "" : ", ") + endpoint.name;
            std::fprintf(stderr, "ondelle-send: several endpoints found (%s): say which with --to\n",
                         names.c_str());
            return false;
        }
    } else {
        for (const auto& endpoint : found)
            if (endpoint.name == to) chosen = &endpoint;
        if (!chosen) {
            const FoundEndpoint* containing = nullptr;
            int count = 0;
            for (const auto& endpoint : found) {
                if (endpoint.name.find(to) != std::string::npos) {
                    containing = &endpoint;
                    ++count;
                }
            }
            if (count == 1) chosen = containing;
        }
        if (!chosen) {
            // Not a display name: perhaps a host name.
            target = {to, default_port};
            std::string ignored;
            if (EndpointLink::open(to, default_port, hello("control"), ignored)) return true;
        }
    }
    if (!chosen) {
        std::fprintf(stderr, "ondelle-send: no endpoint %s%s%s found\n", to.empty() ? "" : "\"",
                     to.c_str(), to.empty() ? "" : "\"");
        return false;
    }
    target = {chosen->address, chosen->port};
    return true;
}

int run(const Options& options) {
    // From the start: a Ctrl-C while looking for the endpoint ends the run as cleanly.
    std::atomic<bool> stop_requested{false};
    ConsoleSignals signals([&] { stop_requested.store(true); });
    if (options.list) return list_endpoints();
    Target target;
    if (!choose_target(options.to, target)) return stop_requested.load() ? interrupted : no_endpoint;
    if (stop_requested.load()) return interrupted;
    std::string error;
    auto link = EndpointLink::open(target.host, target.port, hello(""), error);
    if (!link) {
        std::fprintf(stderr, "ondelle-send: cannot connect to %s\n", error.c_str());
        return cannot_connect;
    }
    if (options.volume >= 0) {
        Json volume = make_message("volume");
        volume.set("value", Json(options.volume));
        link->send(volume);
    }
    Terminal terminal;
    return play_files(*link, options.files, terminal, stop_requested);
}

}  // namespace
}  // namespace ondelle::send

int main(int argc, char** argv) {
    using namespace ondelle::send;
    Options options;
    if (const auto code =
            ondelle::answer_command_line(command_line(options), ondelle::utf8_arguments(argc, argv)))
        return *code;
    if (const std::string line = missing(options); !line.empty()) {
        std::fputs((line + "\n" + usage_text).c_str(), stderr);
        return usage;
    }
    return run(options);
}

// ondelle-send: finds Ondelle endpoints on the network and plays files to one of them.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "browse.h"
#include "endpoint_link.h"
#include "exit_codes.h"
#include "options.h"
#include "playback.h"
#include "say.h"
#include "support/console_signal.h"
#include "support/text.h"
#include "support/thread.h"
#include "support/utf8.h"
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

// The sender's identifier: one for each user on each machine, so that what an endpoint
// remembers about one (a FLAC stream it could not decode) is not held against everyone.
std::string sender_id() {
    return "ondelle-send:" + host_name() + ":" + std::to_string(getuid());
}

Json hello(const std::string& role) {
    Json sender;
    sender.set("id", Json(sender_id()));
    sender.set("name", Json("ondelle-send on " + host_name()));
    Json message = make_message("hello");
    message.set("proto", Json(2));
    if (!role.empty()) message.set("role", Json(role));
    message.set("sender", std::move(sender));
    return message;
}

// Every endpoint found is asked at once, all within one bound: one that never answers
// costs no more than the others.
int list_endpoints() {
    const auto found = browse(listen_for);
    const auto deadline = std::chrono::steady_clock::now() + handshake_limit;
    std::vector<std::string> plays(found.size(), "(does not answer)");
    std::vector<std::thread> askers;
    for (std::size_t i = 0; i < found.size(); ++i) {
        askers.push_back(start_thread("list query", [&, i] {
            std::string error;
            if (auto link = EndpointLink::open(found[i].address, found[i].port, hello("control"),
                                               error, deadline))
                plays[i] = read_offer(link->welcome()).describe();
        }));
    }
    for (auto& asker : askers)
        asker.join();
    for (std::size_t i = 0; i < found.size(); ++i) {
        const FoundEndpoint& endpoint = found[i];
        std::printf("%s  %s:%d  %s  %s\n", escape_controls(endpoint.name).c_str(),
                    endpoint.address.c_str(), endpoint.port,
                    endpoint.model.empty() ? "-" : escape_controls(endpoint.model).c_str(),
                    escape_controls(plays[i]).c_str());
    }
    if (found.empty()) say("no endpoint found");
    return found.empty() ? no_endpoint : played;
}

// Ctrl-C asks the run to stop where it stands; whatever the run is waiting on, the process
// ends with 130 a moment later (the run usually ends by itself first, telling the endpoint),
// the terminal given back first.
constexpr auto forced_exit_after = 300ms;
class Interruption {
  public:
    Interruption() : signals_([this] { on_signal(); }) {}
    ~Interruption() {
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        finished_changed_.notify_all();
    }
    Interruption(const Interruption&) = delete;
    Interruption& operator=(const Interruption&) = delete;

    const std::atomic<bool>& requested() const { return requested_; }
    // Also when the signal cut a call short before its handler ran.
    bool cut_short() const { return requested_.load() || signals_.received(); }
    // What must be undone before the process ends unasked (the terminal's mode).
    void before_forced_exit(std::function<void()> undo) {
        std::lock_guard lock(mutex_);
        undo_ = std::move(undo);
    }

  private:
    void on_signal() {
        requested_.store(true);
        std::unique_lock lock(mutex_);
        if (finished_changed_.wait_for(lock, forced_exit_after, [this] { return finished_; }))
            return;
        if (undo_) undo_();
        std::fflush(stdout);
        std::fputs("\n", stderr);
        std::_Exit(interrupted);
    }

    std::atomic<bool> requested_{false};
    std::mutex mutex_;
    std::condition_variable finished_changed_;
    bool finished_ = false;
    std::function<void()> undo_;
    ConsoleSignals signals_;  // last: its watcher is joined before the rest goes
};

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
                names += (names.empty() ? "" : ", ") + escape_controls(endpoint.name);
            say("several endpoints found (" + names + "): say which with --to");
            return false;
        }
    } else {
        // The name as written, else the one name that holds it, in that case or any.
        const auto folded = [](std::string text) {
            for (char& c : text)
                if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
            return text;
        };
        for (const auto& endpoint : found)
            if (endpoint.name == to) chosen = &endpoint;
        for (const bool any_case : {false, true}) {
            if (chosen) break;
            const FoundEndpoint* containing = nullptr;
            int count = 0;
            for (const auto& endpoint : found) {
                const bool holds = any_case
                                       ? folded(endpoint.name).find(folded(to)) != std::string::npos
                                       : endpoint.name.find(to) != std::string::npos;
                if (holds) {
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
        say(to.empty() ? "no endpoint found" : "no endpoint \"" + to + "\" found");
        return false;
    }
    target = {chosen->address, chosen->port};
    return true;
}

int play(const Options& options, Interruption& interruption) {
    if (options.list) return list_endpoints();
    const std::atomic<bool>& stop_requested = interruption.requested();
    Target target;
    if (!choose_target(options.to, target))
        return stop_requested.load() ? interrupted : no_endpoint;
    if (stop_requested.load()) return interrupted;
    std::string error;
    // The files are checked against what the endpoint plays first, as a control peer, which
    // takes nothing over: a file that cannot play never stops someone else's music.
    Checked checked;
    {
        auto asked = EndpointLink::open(target.host, target.port, hello("control"), error);
        if (!asked) {
            say("cannot connect to " + error);
            return cannot_connect;
        }
        checked = check_files(options.files, asked->welcome());
    }
    if (checked.playable.empty()) return checked.refused;
    if (stop_requested.load()) return interrupted;
    auto link = EndpointLink::open(target.host, target.port, hello(""), error);
    if (!link) {
        say("cannot connect to " + error);
        return cannot_connect;
    }
    if (options.volume >= 0) {
        if (link->welcome().get("volume").get("kind").as_string("fixed") == "fixed") {
            say("the endpoint's volume is fixed (its DAC's own knob): --volume " +
                std::to_string(options.volume) + " is not applied");
        } else {
            Json volume = make_message("volume");
            volume.set("value", Json(options.volume));
            link->send(volume);
        }
    }
    Terminal terminal;
    interruption.before_forced_exit([&terminal] { terminal.give_back(); });
    const int code =
        play_files(*link, checked.playable, terminal, stop_requested, options.wait_device);
    interruption.before_forced_exit(nullptr);
    // Files skipped at the start are said by the code when the others played.
    return code == played && checked.refused != played ? some_skipped : code;
}

int run(const Options& options) {
    // From the start: a Ctrl-C while looking for the endpoint ends the run as cleanly.
    Interruption interruption;
    const int code = play(options, interruption);
    return interruption.cut_short() ? int(interrupted) : code;
}

}  // namespace
}  // namespace ondelle::send

int main(int argc, char** argv) {
    using namespace ondelle::send;
    Options options;
    if (const auto code = ondelle::answer_command_line(command_line(options),
                                                       ondelle::utf8_arguments(argc, argv)))
        return *code;
    if (const std::string line = missing(options); !line.empty()) {
        std::fputs((line + "\n" + usage_text).c_str(), stderr);
        return usage;
    }
    return run(options);
}

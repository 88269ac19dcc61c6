// Ondelle-Direct: makes one ASIO driver an Ondelle endpoint.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <optional>

#include "asio.h"
#include "direct_sink.h"
#include "driver_list.h"
#include "endpoint.h"
#include "local_mode.h"
#include "options.h"
#include "panel.h"
#include "program_name.h"
#include "sample_types.h"
#include "software_volume.h"
#include "support/text.h"
#include "win/device_gone.h"
#include "win/event_handle.h"
#include "win/identity.h"
#include "win/log_line.h"
#include "win/serve.h"
#include "win/service_host.h"
#include "win/service_install.h"
#include "win/wait_for_output.h"

namespace ondelle::direct {
namespace {

constexpr const char* no_drivers = "No ASIO drivers are installed (HKLM\\SOFTWARE\\ASIO).";

// Publishes asio to the driver's callbacks for as long as it lives.
class CurrentAsio {
  public:
    explicit CurrentAsio(Asio& asio) { current_asio = &asio; }
    ~CurrentAsio() { current_asio = nullptr; }
    CurrentAsio(const CurrentAsio&) = delete;
    CurrentAsio& operator=(const CurrentAsio&) = delete;
};

int list_drivers(const std::optional<std::vector<DriverEntry>>& drivers, const Options& options) {
    if (!drivers || drivers->empty()) {
        std::puts(no_drivers);
        return 0;
    }
    for (const DriverEntry& entry : *drivers) {
        std::puts(entry.name.c_str());
        std::string error;
        Caps caps;
        {
            const EventHandle data_event = EventHandle::create_auto_reset();
            Asio asio(entry, data_event.get(), !options.no_output_ready);
            const CurrentAsio current(asio);
            asio.start_thread();
            caps = asio.probe(error);
            asio.stop_thread();
        }
        if (!error.empty()) std::printf("    %s\n", error.c_str());
        if (!caps.rates.empty()) std::fputs(caps_listing(caps).c_str(), stdout);
    }
    return 0;
}

EndpointSettings make_settings(const Options& options, const std::string& driver,
                               const Caps& caps) {
    EndpointSettings settings;
    const std::string computer = computer_name();
    settings.id = make_endpoint_id(program_name, computer, driver);
    settings.name = options.name.empty() ? default_display_name(computer, driver) : options.name;
    settings.model = driver;
    settings.vendor = "Windows";
    settings.buffer_ms = options.effective_buffer_ms();
    settings.any_address = options.any_address;
    if (options.local) settings.bind_address = "127.0.0.1";
    settings.rates = caps.rates;
    settings.bits = pcm_bits_offered(caps.sample_type);
    // A gain applied to DSD would corrupt it: in the software kind none is offered.
    if (!options.software_volume()) settings.dsd_rates = caps.dsd_rates;
    settings.volume_kind = options.software_volume() ? "software" : "fixed";
    settings.volume = options.software_volume() ? SoftwareVolume::initial_level : 100;
    return settings;
}

int serve_driver(const Options& options, Asio& asio, const Caps& caps, ServiceHost* service) {
    DirectSink sink(&asio, caps);
    auto endpoint = std::make_unique<Endpoint>(make_settings(options, asio.name(), caps), &sink);
    std::unique_ptr<SoftwareVolume> volume;
    if (options.software_volume()) {
        volume = std::make_unique<SoftwareVolume>(asio);
        endpoint->on_volume = [&volume, endpoint = endpoint.get()](std::int32_t level, bool muted) {
            volume->apply(*endpoint, level, muted);
        };
    }
    endpoint->on_log = [&volume](const std::string& line) {
        if (volume) volume->note_log_line(line);
        log_line(program_name, line);
    };
    asio.call([&asio, endpoint = endpoint.get()] {
        asio.recovery.on_lost = [endpoint] { endpoint->output_lost(output_device_gone); };
        asio.recovery.wanted = [endpoint] { return endpoint->has_sender(); };
    });
    StopOnInputEnd input_watch;
    ServeSteps steps;
    steps.program = program_name;
    steps.port = options.effective_port();
    steps.service = service;
    steps.advertise = !options.local;
    if (options.local) {
        steps.banner = [](int port) { return "port " + std::to_string(port) + "\n"; };
        steps.serving = [&input_watch](Endpoint& served) { input_watch.start(served); };
    } else {
        steps.banner = [name = endpoint->settings.name, &options](int port) {
            return "Ondelle endpoint \"" + name + "\" on port " + std::to_string(port) +
                   " (volume " + (options.software_volume() ? "software" : "fixed") + ")\n";
        };
    }
    const auto forget_endpoint = [&asio] {
        asio.call([&asio] {
            asio.recovery.on_lost = nullptr;
            asio.recovery.wanted = nullptr;
        });
    };
    steps.stopped = [&] {
        input_watch.forget();
        sink.stop_writer();  // the player may be waiting on a driver that stopped
        forget_endpoint();
    };
    return serve(std::move(endpoint), steps);
}

// The driver --driver names, or the one installed without --driver (said); none when there is
// no such driver.
std::optional<DriverEntry> pick_driver(const std::optional<std::vector<DriverEntry>>& drivers,
                                       const Options& options) {
    if (!drivers) return std::nullopt;
    if (const DriverEntry* chosen = choose_driver(*drivers, options.driver)) return *chosen;
    if (!options.driver.empty() || drivers->size() != 1) return std::nullopt;
    log_line(program_name, "no --driver given: serving the one driver installed, \"" +
                               drivers->front().name + "\"");
    return drivers->front();
}

int run_program(const Options& options, ServiceHost* service) {
    auto drivers = registered_drivers();
    if (options.list) return list_drivers(drivers, options);
    std::optional<DriverEntry> entry = pick_driver(drivers, options);
    const std::string what = options.driver.empty() ? std::string("an ASIO driver")
                                                    : "the ASIO driver \"" + options.driver + "\"";
    if (!entry && (options.wait || service) && !options.service.install) {
        const bool found = wait_for_output(
            program_name, what,
            [&] {
                drivers = registered_drivers();
                entry = pick_driver(drivers, options);
                return entry.has_value();
            },
            service);
        if (!found) return 0;
    }
    if (!entry) {
        log_line(program_name, "no ASIO driver \"" + options.driver + "\" (Ondelle-Direct --list)");
        return 1;
    }
    const EventHandle data_event = EventHandle::create_auto_reset();
    Asio asio(*entry, data_event.get(), !options.no_output_ready);
    const CurrentAsio current(asio);
    asio.start_thread();
    if (options.panel) {
        const int code = show_settings_window(asio);
        asio.stop_thread();
        return code;
    }
    std::string error;
    Caps caps = asio.probe(error);
    if (caps.rates.empty() && (options.wait || service) && !options.service.install) {
        log_line(program_name, error);
        const bool found = wait_for_output(
            program_name, what + " to play",
            [&] {
                error.clear();
                caps = asio.probe(error);
                return !caps.rates.empty();
            },
            service);
        if (!found) {
            asio.stop_thread();
            return 0;
        }
    }
    if (caps.rates.empty()) {
        log_line(program_name, error);
        asio.stop_thread();
        return 1;
    }
    if (options.service.install) {
        asio.stop_thread();
        ServiceInstall install;
        install.name = options.service.name;
        install.display_name =
            "Ondelle endpoint (ASIO): " + make_settings(options, asio.name(), caps).name;
        install.description =
            "Plays what Ondelle senders on the network stream to it, bit-perfect, through the "
            "ASIO driver " +
            asio.name() + ".";
        install.arguments = service_arguments(options.service.given);
        install.port = options.effective_port();
        return install_service(program_name, install, options.service.force);
    }
    if (!options.local) {
        std::puts(asio.name().c_str());
        std::fputs(caps_listing(caps).c_str(), stdout);
        std::fflush(stdout);
    }
    const int code = serve_driver(options, asio, caps, service);
    asio.stop_thread();
    return code;
}

}  // namespace
}  // namespace ondelle::direct

int main(int argc, char** argv) {
    using namespace ondelle;
    using namespace ondelle::direct;
    Options options;
    options.service.given = utf8_arguments(argc, argv);
    if (const auto code = answer_command_line(command_line(options), options.service.given))
        return *code;
    SetConsoleOutputCP(CP_UTF8);
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    if ((options.service.run || options.service.install) &&
        (options.panel || options.local || options.list)) {
        log_line(program_name,
                 std::string(options.service.run ? "--service" : "--install-service") +
                     " takes neither --list, --panel nor --local");
        return 2;
    }
    if (options.service.uninstall) return uninstall_service(program_name, options.service.name);
    if (options.service.run)
        return run_as_service(program_name, options.service.name, options.log,
                              [&](ServiceHost& host) { return run_program(options, &host); });
    return run_program(options, nullptr);
}

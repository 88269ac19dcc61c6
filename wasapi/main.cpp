// ondelle-wasapi: makes one Windows render device an Ondelle endpoint.
#include <windows.h>

#include <mmdeviceapi.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "device_probe.h"
#include "endpoint.h"
#include "identity.h"
#include "options.h"
#include "program_name.h"
#include "support/text.h"
#include "wasapi_sink.h"
#include "win/com_ptr.h"
#include "win/com_thread.h"
#include "win/device_gone.h"
#include "win/log_file.h"
#include "win/log_line.h"
#include "win/name_match.h"
#include "win/serve.h"
#include "win/service_host.h"
#include "win/service_install.h"
#include "win/task_memory.h"
#include "win/wait_for_output.h"
#include "windows_volume.h"

namespace ondelle::wasapi {
namespace {

// Walks the active render devices, listing each with what it plays under --list; returns the
// one the --device text chooses (win/name_match.h), when that is not empty.
ComPtr<IMMDevice> walk_devices(IMMDeviceEnumerator* enumerator, const Options& options) {
    std::vector<ComPtr<IMMDevice>> walked;
    std::vector<std::string> names;
    ComPtr<IMMDeviceCollection> devices;
    UINT count = 0;
    if (FAILED(enumerator->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, devices.put())) ||
        !devices || FAILED(devices->GetCount(&count)))
        return {};
    for (UINT i = 0; i < count; ++i) {
        ComPtr<IMMDevice> device;
        if (FAILED(devices->Item(i, device.put())) || !device) continue;
        names.push_back(friendly_name(device.get()));
        if (options.list) {
            std::printf("%s\n", names.back().c_str());
            print_caps(probe_exclusive(device.get(), options.dop));
        }
        walked.push_back(std::move(device));
    }
    if (options.device.empty()) return {};
    const auto chosen = choose_by_name(names, options.device);
    return chosen ? std::move(walked[*chosen]) : ComPtr<IMMDevice>{};
}

// The device --device names, or the default one without --device; empty when there is none.
ComPtr<IMMDevice> choose_device(IMMDeviceEnumerator* enumerator, const Options& options,
                                ComPtr<IMMDevice> named) {
    if (!named && options.device.empty())
        enumerator->GetDefaultAudioEndpoint(eRender, eConsole, named.put());
    return named;
}

// Rates ascending; the depths that find a layout at every rate; the DoP rates ascending.
void fill_formats(const DeviceCaps& caps, EndpointSettings& settings) {
    settings.rates.clear();
    for (const auto& entry : caps.pcm)
        settings.rates.push_back(entry.first);
    settings.bits.clear();
    for (const std::int32_t bits : {16, 24, 32}) {
        const bool everywhere =
            std::all_of(settings.rates.begin(), settings.rates.end(), [&](std::int32_t rate) {
                Format format;
                format.rate = rate;
                format.bits = bits;
                return find_device_format(caps, format).has_value();
            });
        if (everywhere) settings.bits.push_back(bits);
    }
    settings.dsd_rates.clear();
    for (const auto& entry : caps.dop)
        settings.dsd_rates.push_back(entry.first);
}

EndpointSettings make_settings(const Options& options, const std::string& friendly,
                               const DeviceCaps& caps, const WindowsVolume& volume) {
    EndpointSettings settings;
    const std::string computer = computer_name();
    settings.id = endpoint_id(computer, friendly);
    settings.name = options.name.empty() ? default_display_name(computer, friendly) : options.name;
    settings.model = friendly;
    settings.vendor = "Windows";
    fill_formats(caps, settings);
    if (volume.kind() != VolumeKind::fixed) {
        settings.volume_kind = "hardware";
        settings.volume = volume.current_percent();
    }
    // A volume applied here would corrupt DoP, so DSD is not offered at all.
    if (volume.kind() == VolumeKind::software) settings.dsd_rates.clear();
    settings.buffer_ms = options.buffer_ms;
    settings.any_address = options.any_address;
    settings.away_buffer_ms = options.away_buffer_ms;
    settings.away_burst_ms = options.away_burst_ms;
    settings.local_sender = options.local_sender;
    return settings;
}

// The device's identifier, by which it is found again after it went away.
std::wstring device_id(IMMDevice* device) {
    TaskMemory<WCHAR> id;
    if (FAILED(device->GetId(id.put())) || !id) return {};
    return id.get();
}

int serve_device(const Options& options, IMMDeviceEnumerator* enumerator, IMMDevice* device,
                 const std::string& friendly, const DeviceCaps& caps, WindowsVolume& volume,
                 ServiceHost* service) {
    const bool software = volume.kind() == VolumeKind::software;
    DeviceWatch watch(device, &caps);
    WasapiSink sink(watch, options.mix, software);
    if (software) sink.store_gain(volume.gain());
    auto endpoint =
        std::make_unique<Endpoint>(make_settings(options, friendly, caps, volume), &sink);
    if (!options.flac.empty()) endpoint->set_flac_mode(options.flac == "forwarded" ? 1 : 2);
    watch.watch(
        enumerator, device_id(device),
        [&options](IMMDevice* found) {
            return options.mix ? probe_shared(found) : probe_exclusive(found, options.dop);
        },
        [endpoint = endpoint.get()] { endpoint->output_lost(output_device_gone); },
        [endpoint = endpoint.get()] { return endpoint->has_sender(); });
    endpoint->on_log = [&volume](const std::string& line) {
        volume.note_log_line(line);
        log_line(program_name, line);
    };
    if (volume.kind() != VolumeKind::fixed) {
        endpoint->on_volume = [&volume, &sink, endpoint = endpoint.get()](std::int32_t level,
                                                                          bool muted) {
            volume.apply_request(*endpoint, &sink, level, muted);
        };
    }
    ServeSteps steps;
    steps.program = program_name;
    steps.port = options.port;
    steps.service = service;
    steps.banner = [name = endpoint->settings.name](int port) {
        return "Ondelle endpoint \"" + name + "\" on port " + std::to_string(port) + "\n";
    };
    steps.serving = [&](Endpoint& served) {
        if (volume.kind() != VolumeKind::fixed) volume.start_following(served, &sink);
    };
    steps.stopped = [&] {
        sink.stop_writer();  // the player may be waiting on a device that stopped
        watch.forget_hooks();
        volume.stop_following();
    };
    const int exit_code = serve(std::move(endpoint), steps);
    sink.close();
    return exit_code;
}

int run_program(const Options& options, ServiceHost* service) {
    initialize_com_for_thread();
    ComPtr<IMMDeviceEnumerator> enumerator;
    if (FAILED(CoCreateInstance(CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL,
                                IID_IMMDeviceEnumerator, enumerator.put_void())) ||
        !enumerator) {
        log_line(program_name, "no audio devices (MMDeviceEnumerator)");
        return 1;
    }
    ComPtr<IMMDevice> named = walk_devices(enumerator.get(), options);
    if (options.list) return 0;
    const auto probe = [&options](IMMDevice* device) {
        return options.mix ? probe_shared(device) : probe_exclusive(device, options.dop);
    };
    ComPtr<IMMDevice> device = choose_device(enumerator.get(), options, std::move(named));
    DeviceCaps caps;
    if (device) caps = probe(device.get());
    if ((!device || caps.pcm.empty()) && (options.wait || service) && !options.service.install) {
        const std::string what = options.device.empty()
                                     ? std::string("the default output device")
                                     : "the output device \"" + options.device + "\"";
        const bool found = wait_for_output(
            program_name, what,
            [&] {
                device = choose_device(enumerator.get(), options,
                                       walk_devices(enumerator.get(), options));
                if (device) caps = probe(device.get());
                return device && !caps.pcm.empty();
            },
            service);
        if (!found) return 0;
    }
    if (!device) {
        log_line(program_name, "no output device \"" + options.device + "\" (" +
                                   std::string(program_name) + " --list)");
        return 1;
    }
    const std::string friendly = friendly_name(device.get());
    std::printf("%s\n", friendly.c_str());
    print_caps(caps);
    if (caps.pcm.empty()) return 1;
    WindowsVolume volume(device.get(), options.mix, options.follow_system);
    if (options.service.install) {
        ServiceInstall install;
        install.name = options.service.name;
        install.display_name =
            "Ondelle endpoint (WASAPI): " + make_settings(options, friendly, caps, volume).name;
        install.description =
            "Plays what Ondelle senders on the network stream to it, bit-perfect, on " + friendly +
            ".";
        install.dependencies = {"Audiosrv"};
        install.port = options.port;
        install.arguments = service_arguments(options.service.given);
        return install_service(program_name, install, options.service.force);
    }
    std::printf("volume: %s\n", volume_kind_text(volume.kind()));
    return serve_device(options, enumerator.get(), device.get(), friendly, caps, volume, service);
}

}  // namespace
}  // namespace ondelle::wasapi

int main(int argc, char** argv) {
    using namespace ondelle;
    using namespace ondelle::wasapi;
    Options options;
    options.service.given = utf8_arguments(argc, argv);
    if (const auto code = answer_command_line(command_line(options), options.service.given))
        return *code;
    SetConsoleOutputCP(CP_UTF8);
    if (options.service.install && options.list) {
        log_line(program_name, "--install-service does not take --list");
        return 2;
    }
    if (options.service.uninstall) return uninstall_service(program_name, options.service.name);
    if (options.service.run)
        return run_as_service(program_name, options.service.name, options.log,
                              [&](ServiceHost& host) { return run_program(options, &host); });
    // An install only checks the options: the log is the service's, from its first start.
    if (!options.log.empty() && !options.service.install)
        log_to_file(program_name, options.log,
                    "\"" + options.device + "\" port " + std::to_string(options.port));
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    return run_program(options, nullptr);
}

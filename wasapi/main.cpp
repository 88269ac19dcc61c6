// ondelle-wasapi: makes one Windows render device an Ondelle endpoint.
#include <windows.h>

#include <mmdeviceapi.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>

#include "advertiser.h"
#include "com_ptr.h"
#include "com_thread.h"
#include "console.h"
#include "device_probe.h"
#include "endpoint.h"
#include "identity.h"
#include "log_file.h"
#include "options.h"
#include "support/text.h"
#include "wasapi_sink.h"
#include "windows_volume.h"

namespace ondelle {
namespace {

// The one endpoint a console signal stops.
std::atomic<Endpoint*> signalled_endpoint{nullptr};

void on_console_signal(int) {
    if (Endpoint* endpoint = signalled_endpoint.load()) endpoint->stop();
}

// Walks the active render devices, listing each with what it plays under --list; returns the
// first whose friendly name contains the --device text, when that is not empty.
ComPtr<IMMDevice> walk_devices(IMMDeviceEnumerator* enumerator, const Options& options) {
    ComPtr<IMMDevice> chosen;
    ComPtr<IMMDeviceCollection> devices;
    UINT count = 0;
    if (FAILED(enumerator->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, devices.put())) ||
        !devices || FAILED(devices->GetCount(&count)))
        return chosen;
    for (UINT i = 0; i < count; ++i) {
        ComPtr<IMMDevice> device;
        if (FAILED(devices->Item(i, device.put())) || !device) continue;
        const std::string name = friendly_name(device.get());
        if (options.list) {
            std::printf("%s\n", name.c_str());
            print_caps(probe_exclusive(device.get(), options.dop));
        }
        if (!chosen && !options.device.empty() && name.find(options.device) != std::string::npos)
            chosen = std::move(device);
    }
    return chosen;
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

int run_program(const Options& options) {
    initialize_com_for_thread();
    ComPtr<IMMDeviceEnumerator> enumerator;
    if (FAILED(CoCreateInstance(CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL,
                                IID_IMMDeviceEnumerator, enumerator.put_void())) ||
        !enumerator) {
        print_error_line("ondelle-wasapi: no audio devices (MMDeviceEnumerator)");
        return 1;
    }
    ComPtr<IMMDevice> device = walk_devices(enumerator.get(), options);
    if (options.list) return 0;
    if (!device && options.device.empty())
        enumerator->GetDefaultAudioEndpoint(eRender, eConsole, device.put());
    if (!device) {
        print_error_line("ondelle-wasapi: no output device \"" + options.device +
                         "\" (ondelle-wasapi --list)");
        return 1;
    }

    const std::string friendly = friendly_name(device.get());
    const DeviceCaps caps =
        options.mix ? probe_shared(device.get()) : probe_exclusive(device.get(), options.dop);
    std::printf("%s\n", friendly.c_str());
    print_caps(caps);
    if (caps.pcm.empty()) return 1;

    EndpointSettings settings;
    const std::string computer = computer_name();
    settings.id = endpoint_id(computer, friendly);
    settings.name = options.name.empty() ? default_display_name(computer, friendly) : options.name;
    settings.model = friendly;
    settings.vendor = "Windows";
    fill_formats(caps, settings);

    WindowsVolume volume(device.get(), options.mix, options.follow_system);
    std::printf("volume: %s\n", volume_kind_text(volume.kind()));
    if (volume.kind() != VolumeKind::fixed) {
        settings.volume_kind = "hardware";
        settings.volume = volume.current_percent();
    }
    // A volume applied here would corrupt DoP, so DSD is not offered at all.
    if (volume.kind() == VolumeKind::software) settings.dsd_rates.clear();

    WasapiSink sink(device.get(), &caps, options.mix, volume.kind() == VolumeKind::software);
    if (volume.kind() == VolumeKind::software) sink.store_gain(volume.gain());

    settings.buffer_ms = options.buffer_ms;
    settings.any_address = options.any_address;
    settings.away_buffer_ms = options.away_buffer_ms;
    settings.away_burst_ms = options.away_burst_ms;
    settings.local_sender = options.local_sender;
    int exit_code = 0;
    {
        auto endpoint = std::make_unique<Endpoint>(settings, &sink);
        if (!options.flac.empty()) endpoint->set_flac_mode(options.flac == "forwarded" ? 1 : 2);
        endpoint->on_log = [&volume](const std::string& line) {
            volume.note_log_line(line);
            print_error_line("ondelle-wasapi: " + line);
        };
        if (volume.kind() != VolumeKind::fixed) {
            endpoint->on_volume = [&volume, &sink, endpoint = endpoint.get()](std::int32_t level,
                                                                              bool muted) {
                volume.apply_request(*endpoint, &sink, level, muted);
            };
        }
        std::string error;
        if (!endpoint->listen(options.port, error)) {
            print_error_line("ondelle-wasapi: port " + std::to_string(options.port) + ": " + error);
            exit_code = 1;
        } else {
            signalled_endpoint.store(endpoint.get());
            std::signal(SIGINT, on_console_signal);
            std::signal(SIGTERM, on_console_signal);
            auto advertiser = std::make_unique<Advertiser>();
            const std::map<std::string, std::string> txt{{"v", "1"},
                                                         {"id", settings.id},
                                                         {"name", settings.name},
                                                         {"model", settings.model},
                                                         {"vendor", settings.vendor}};
            if (!advertiser->start(settings.name, options.port, txt, error))
                print_error_line("ondelle-wasapi: not advertised (" + error +
                                 ") \xe2\x80\x94 senders need the address");
            std::printf("Ondelle endpoint \"%s\" on port %d\n", settings.name.c_str(),
                        options.port);
            std::fflush(stdout);
            if (volume.kind() != VolumeKind::fixed) volume.start_following(*endpoint, &sink);
            endpoint->run();
            sink.stop_writer();  // the player may be waiting on a device that stopped
            volume.stop_following();
            advertiser.reset();
        }
        signalled_endpoint.store(nullptr);
        endpoint.reset();
    }
    sink.close();
    return exit_code;
}

}  // namespace
}  // namespace ondelle

int main(int argc, char** argv) {
    using namespace ondelle;
    Options options;
    if (!parse_options(utf8_arguments(argc, argv), options)) {
        std::fputs(usage_text, stderr);
        return 2;
    }
    SetConsoleOutputCP(CP_UTF8);
    if (!options.log.empty()) redirect_errors_to_log(options.log, options.device, options.port);
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    return run_program(options);
}

// Asks a device which formats it takes, exclusive or shared, and prints what it found.
#include "device_probe.h"

#include <audioclient.h>

#include <cstdio>

#include "win/com_ptr.h"
#include "win/hresult_text.h"
#include "win/task_memory.h"

namespace ondelle::wasapi {

HRESULT last_probe_error = S_OK;

namespace {

constexpr std::int32_t probe_rates[] = {44100,  48000,  88200,  96000,  176400,
                                        192000, 352800, 384000, 705600, 768000};
constexpr DeviceFormat probe_layouts[] = {
    {16, 16, S16_LE}, {24, 24, S24_3LE}, {32, 24, S32_LE}, {32, 32, S32_LE}};
constexpr std::int32_t dop_rates[] = {2822400,  3072000,  5644800,  6144000,
                                      11289600, 12288000, 22579200, 24576000};

bool activate_client(IMMDevice* device, ComPtr<IAudioClient>& client) {
    last_probe_error = device->Activate(IID_IAudioClient, CLSCTX_ALL, nullptr, client.put_void());
    return SUCCEEDED(last_probe_error) && client;
}

}  // namespace

DeviceCaps probe_exclusive(IMMDevice* device, bool with_dop) {
    DeviceCaps caps;
    ComPtr<IAudioClient> client;
    if (!activate_client(device, client)) return caps;
    for (const std::int32_t rate : probe_rates) {
        for (const DeviceFormat& layout : probe_layouts) {
            const WAVEFORMATEXTENSIBLE wave =
                make_wave_format(rate, layout.container_bits, layout.valid_bits);
            const HRESULT result =
                client->IsFormatSupported(AUDCLNT_SHAREMODE_EXCLUSIVE, &wave.Format, nullptr);
            if (result == S_OK)
                caps.pcm[rate].push_back(layout);
            else
                last_probe_error = result;
        }
    }
    client.reset();
    if (!with_dop || caps.pcm.empty()) return caps;
    for (const std::int32_t dsd_rate : dop_rates) {
        const auto carrier = caps.pcm.find(dsd_rate / 16);
        if (carrier == caps.pcm.end()) continue;
        for (const DeviceFormat& layout : carrier->second) {
            if (layout.valid_bits != 24 && layout.container_bits != 32) continue;
            caps.dop[dsd_rate] = {layout.container_bits, layout.valid_bits,
                                  layout.container_bits == 24 ? DoP_S24_3LE : DoP_S32_LE};
            break;
        }
    }
    return caps;
}

DeviceCaps probe_shared(IMMDevice* device) {
    DeviceCaps caps;
    ComPtr<IAudioClient> client;
    if (!activate_client(device, client)) return caps;
    TaskMemory<WAVEFORMATEX> mix;
    last_probe_error = client->GetMixFormat(mix.put());
    if (FAILED(last_probe_error) || !mix) return caps;
    // The mixer converts whatever it is given, so every layout plays at its rate.
    caps.pcm[std::int32_t(mix->nSamplesPerSec)].assign(std::begin(probe_layouts),
                                                       std::end(probe_layouts));
    return caps;
}

std::string format_caps(const DeviceCaps& caps) {
    std::string text;
    char line[160];
    for (const auto& [rate, layouts] : caps.pcm) {
        std::snprintf(line, sizeof line, "    PCM %6d Hz:", rate);
        text += line;
        for (const auto& layout : layouts) {
            std::snprintf(line, sizeof line, " %d-in-%d", layout.valid_bits, layout.container_bits);
            text += line;
        }
        text += '\n';
    }
    for (const auto& [rate, layout] : caps.dop) {
        std::snprintf(line, sizeof line, "    %-8s     : DoP %d-in-%d at %d Hz\n",
                      dsd_rate_name(rate).c_str(), layout.valid_bits, layout.container_bits,
                      rate / 16);
        text += line;
    }
    if (caps.pcm.empty()) {
        text += "    nothing in exclusive mode (" + hresult_text(last_probe_error) +
                ": another program may hold it exclusively)\n";
    }
    return text;
}

void print_caps(const DeviceCaps& caps) {
    const std::string text = format_caps(caps);
    std::fwrite(text.data(), 1, text.size(), stdout);
}

}  // namespace ondelle::wasapi

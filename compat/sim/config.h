// The simulated machine, as described by the JSON file that ONDELLE_SIM names (see
// compat/README.md), or the default machine without it.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ondelle {
class Json;
}

namespace compat {

// A change made in Windows' volume settings while the program runs.
struct VolumeChange {
    int after_ms = 0;  // after the device was first handed out
    double volume = 1.0;
    bool muted = false;
};

struct DeviceConfig {
    std::string name = "Speakers (Simulated DAC)";
    bool is_default = true;
    bool active = true;
    std::vector<int> rates{44100,  48000,  88200,  96000,  176400,
                           192000, 352800, 384000, 705600, 768000};
    std::vector<std::pair<int, int>> layouts{
        {16, 16}, {24, 24}, {32, 24}, {32, 32}};  // container, valid
    int mix_rate = 48000;
    double period_ms = 10;
    bool hardware_volume = true;
    bool endpoint_volume = true;
    double volume = 1.0;
    bool muted = false;
    double speed = 1.0;
    std::string capture;
    bool in_use = false;
    HRESULT activate_error = S_OK;
    HRESULT initialize_error = S_OK;
    int initialize_error_count = 0;
    bool misaligned_once = false;
    int stall_after_ms = -1;
    int removed_after_ms = -1;
    int returns_after_ms = -1;
    int appears_after_ms = -1;
    std::vector<VolumeChange> volume_changes;
};

// One ASIO driver registered under HKLM\SOFTWARE\ASIO.
struct AsioDriverConfig {
    std::string name = "Simulated ASIO DAC";
    // The registry's "CLSID" text; empty: derived from the name; nullopt: no such value.
    std::optional<std::string> clsid = std::string();
    HRESULT load_error = S_OK;
    std::optional<std::string> init_error;
    int outputs = 2;
    int sample_type = 18;
    std::vector<int> rates{44100,  48000,  88200,  96000,  176400,
                           192000, 352800, 384000, 705600, 768000};
    bool dsd = false;
    int dsd_sample_type = 33;
    std::vector<int> dsd_rates{2822400, 5644800, 11289600};
    int buffer_size = 512;
    int dsd_buffer_size = 0;  // 0: 8 × buffer_size
    int output_latency = -1;  // -1: buffer_size
    bool output_ready = true;
    std::vector<int> set_rate_refused;
    std::optional<std::string> create_buffers_error;
    std::optional<std::string> start_error;
    bool panel = false;
    int panel_ms = 1000;
    double speed = 1.0;
    std::string capture;
    std::string log;
    int reset_after_ms = -1;
    int stall_after_ms = -1;
    int removed_after_ms = -1;
    int returns_after_ms = -1;
    int appears_after_ms = -1;

    // The driver found without any configuration: it also plays DSD at six rates.
    static AsioDriverConfig machine_default();
};

struct SimulationConfig {
    bool enumerator = true;
    std::string computer_name;  // empty: the host name
    std::vector<DeviceConfig> render_devices{DeviceConfig{}};
    bool asio_key = true;
    std::vector<AsioDriverConfig> asio_drivers{AsioDriverConfig::machine_default()};
    // The program runs as a service: the statuses it reports are written to this file, and a
    // file of the same name with ".stop" added asks it to stop. Empty: no service manager.
    std::string service_control;
    // The services installed and the event log's sources, kept in this JSON file from one
    // run to the next. Empty: no service manager to install into.
    std::string service_manager;
    bool elevated = true;  // false: installing is refused, as without administrator rights
    // The event log: each event reported is appended to this file as a line. Empty: none.
    std::string event_log;
};

// A number, or a "0x..." text.
HRESULT read_hresult(const ondelle::Json& value);
bool read_asio_driver(const ondelle::Json& json, AsioDriverConfig& driver, std::string& error);

// Reads the file; false with error filled when it cannot be read or makes no sense.
bool load_simulation_config(const std::string& path, SimulationConfig& config, std::string& error);

}  // namespace compat

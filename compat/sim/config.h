// The simulated machine, as described by the JSON file that ONDELLE_SIM names (see
// compat/README.md), or the default machine without it.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

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
    std::vector<VolumeChange> volume_changes;
};

struct SimulationConfig {
    bool enumerator = true;
    std::string computer_name;  // empty: the host name
    std::vector<DeviceConfig> render_devices{DeviceConfig{}};
};

// Reads the file; false with error filled when it cannot be read or makes no sense.
bool load_simulation_config(const std::string& path, SimulationConfig& config, std::string& error);

}  // namespace compat

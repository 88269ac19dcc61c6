// Reads the simulated machine from the JSON file that ONDELLE_SIM names.
#include "config.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "json.h"

namespace compat {

HRESULT read_hresult(const ondelle::Json& value) {
    if (value.type == ondelle::Json::String)
        return static_cast<HRESULT>(std::strtoul(value.text.c_str(), nullptr, 0));
    return static_cast<HRESULT>(static_cast<std::uint32_t>(value.as_int(0)));
}

namespace {

// "24/32" and "32/24" both mean 24 valid bits in a 32-bit container.
bool read_layout(const std::string& text, std::pair<int, int>& layout) {
    const auto slash = text.find('/');
    if (slash == std::string::npos) return false;
    const int a = std::atoi(text.substr(0, slash).c_str());
    const int b = std::atoi(text.substr(slash + 1).c_str());
    if (a <= 0 || b <= 0) return false;
    layout = {std::max(a, b), std::min(a, b)};
    return true;
}

bool read_device(const ondelle::Json& json, DeviceConfig& device, std::string& error) {
    if (!json.is_object()) {
        error = "a render device must be an object";
        return false;
    }
    device.name = json.get("name").as_string(device.name);
    device.is_default = json.get("default").as_bool(false);
    device.active = json.get("active").as_bool(true);
    if (const auto* rates = json.find("rates")) {
        device.rates.clear();
        for (const auto& rate : rates->elements)
            device.rates.push_back(int(rate.as_int(0)));
    }
    if (const auto* layouts = json.find("layouts")) {
        device.layouts.clear();
        for (const auto& layout : layouts->elements) {
            std::pair<int, int> pair;
            if (!read_layout(layout.as_string(""), pair)) {
                error = "a layout reads like \"24/32\"";
                return false;
            }
            device.layouts.push_back(pair);
        }
    }
    device.mix_rate = int(json.get("mix_rate").as_int(device.mix_rate));
    device.period_ms = json.get("period_ms").as_double(device.period_ms);
    device.hardware_volume = json.get("hardware_volume").as_bool(device.hardware_volume);
    device.endpoint_volume = json.get("endpoint_volume").as_bool(device.endpoint_volume);
    device.volume = json.get("volume").as_double(device.volume);
    device.muted = json.get("muted").as_bool(device.muted);
    device.speed = json.get("speed").as_double(device.speed);
    device.capture = json.get("capture").as_string("");
    device.in_use = json.get("in_use").as_bool(false);
    if (const auto* value = json.find("activate_error"))
        device.activate_error = read_hresult(*value);
    if (const auto* value = json.find("initialize_error")) {
        device.initialize_error = read_hresult(*value);
        device.initialize_error_count = int(json.get("initialize_error_count").as_int(1));
    }
    device.misaligned_once = json.get("misaligned_once").as_bool(false);
    device.stall_after_ms = int(json.get("stall_after_ms").as_int(-1));
    device.removed_after_ms = int(json.get("removed_after_ms").as_int(-1));
    device.returns_after_ms = int(json.get("returns_after_ms").as_int(-1));
    device.appears_after_ms = int(json.get("appears_after_ms").as_int(-1));
    for (const auto& change : json.get("volume_changes").elements) {
        device.volume_changes.push_back({int(change.get("after_ms").as_int(0)),
                                         change.get("volume").as_double(1.0),
                                         change.get("muted").as_bool(false)});
    }
    if (device.period_ms <= 0 || device.speed <= 0 || device.mix_rate <= 0) {
        error = "period_ms, speed and mix_rate must be positive";
        return false;
    }
    return true;
}

}  // namespace

bool load_simulation_config(const std::string& path, SimulationConfig& config, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot read " + path;
        return false;
    }
    std::stringstream text;
    text << file.rdbuf();
    ondelle::Json json;
    if (!ondelle::parse_json(text.str(), json) || !json.is_object()) {
        error = path + " is not a JSON object";
        return false;
    }
    config = SimulationConfig{};
    config.enumerator = json.get("enumerator").as_bool(true);
    config.computer_name = json.get("computer_name").as_string("");
    if (const auto* devices = json.find("render_devices")) {
        config.render_devices.clear();
        for (const auto& entry : devices->elements) {
            DeviceConfig device;
            if (!read_device(entry, device, error)) return false;
            config.render_devices.push_back(std::move(device));
        }
    }
    config.asio_key = json.get("asio_key").as_bool(true);
    config.service_control = json.get("service_control").as_string("");
    config.service_manager = json.get("service_manager").as_string("");
    config.elevated = json.get("elevated").as_bool(true);
    config.event_log = json.get("event_log").as_string("");
    if (const auto* drivers = json.find("asio_drivers")) {
        config.asio_drivers.clear();
        for (const auto& entry : drivers->elements) {
            AsioDriverConfig driver;
            if (!read_asio_driver(entry, driver, error)) return false;
            config.asio_drivers.push_back(std::move(driver));
        }
    }
    return true;
}

}  // namespace compat

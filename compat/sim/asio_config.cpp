// Reads one simulated ASIO driver from the machine's JSON description.
#include "config.h"

#include "json.h"

namespace compat {
namespace {

std::vector<int> read_numbers(const ondelle::Json& list) {
    std::vector<int> numbers;
    for (const auto& number : list.elements)
        numbers.push_back(int(number.as_int(0)));
    return numbers;
}

// Absent: nullopt; a text: that text; anything else (null included): an empty text.
std::optional<std::string> read_optional_text(const ondelle::Json& json, const char* key) {
    const auto* value = json.find(key);
    if (!value) return std::nullopt;
    return value->as_string("");
}

}  // namespace

AsioDriverConfig AsioDriverConfig::machine_default() {
    AsioDriverConfig driver;
    driver.sample_type = 18;
    driver.dsd = true;
    driver.dsd_rates = {2822400, 3072000, 5644800, 6144000, 11289600, 12288000};
    return driver;
}

bool read_asio_driver(const ondelle::Json& json, AsioDriverConfig& driver, std::string& error) {
    if (!json.is_object()) {
        error = "an ASIO driver must be an object";
        return false;
    }
    driver.name = json.get("name").as_string(driver.name);
    if (const auto* clsid = json.find("clsid"))
        driver.clsid = clsid->is_null() ? std::nullopt : std::optional(clsid->as_string(""));
    if (const auto* value = json.find("load_error")) driver.load_error = read_hresult(*value);
    driver.init_error = read_optional_text(json, "init_error");
    driver.outputs = int(json.get("outputs").as_int(driver.outputs));
    driver.sample_type = int(json.get("sample_type").as_int(driver.sample_type));
    if (const auto* rates = json.find("rates")) driver.rates = read_numbers(*rates);
    driver.dsd = json.get("dsd").as_bool(false);
    driver.dsd_sample_type = int(json.get("dsd_sample_type").as_int(driver.dsd_sample_type));
    if (const auto* rates = json.find("dsd_rates")) driver.dsd_rates = read_numbers(*rates);
    driver.buffer_size = int(json.get("buffer_size").as_int(driver.buffer_size));
    driver.dsd_buffer_size = int(json.get("dsd_buffer_size").as_int(8 * driver.buffer_size));
    driver.output_latency = int(json.get("output_latency").as_int(driver.buffer_size));
    driver.output_ready = json.get("output_ready").as_bool(true);
    if (const auto* rates = json.find("set_rate_refused"))
        driver.set_rate_refused = read_numbers(*rates);
    driver.create_buffers_error = read_optional_text(json, "create_buffers_error");
    driver.start_error = read_optional_text(json, "start_error");
    driver.panel = json.get("panel").as_bool(false);
    driver.panel_ms = int(json.get("panel_ms").as_int(driver.panel_ms));
    driver.speed = json.get("speed").as_double(driver.speed);
    driver.capture = json.get("capture").as_string("");
    driver.log = json.get("log").as_string("");
    driver.reset_after_ms = int(json.get("reset_after_ms").as_int(-1));
    driver.stall_after_ms = int(json.get("stall_after_ms").as_int(-1));
    driver.removed_after_ms = int(json.get("removed_after_ms").as_int(-1));
    driver.returns_after_ms = int(json.get("returns_after_ms").as_int(-1));
    driver.appears_after_ms = int(json.get("appears_after_ms").as_int(-1));
    if (driver.buffer_size <= 0 || driver.dsd_buffer_size < 8 || driver.speed <= 0 ||
        driver.outputs < 0) {
        error = "buffer sizes, speed and outputs of an ASIO driver must be positive";
        return false;
    }
    return true;
}

}  // namespace compat

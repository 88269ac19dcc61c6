// HKLM\SOFTWARE\ASIO as the simulated machine has it: one subkey per configured driver, in
// order, each with its "CLSID" text; and the state each driver keeps for the whole run.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>

#include "clsid.h"
#include "simulation.h"
#include "support/text.h"

namespace compat {

namespace {
std::int64_t steady_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

AsioDriverState::AsioDriverState(AsioDriverConfig driver_config)
    : config(std::move(driver_config)),
      log_file_(config.log),
      capture_file_(config.capture),
      created_ms_(steady_ms()) {}

AsioDriverState::~AsioDriverState() = default;

std::string AsioDriverState::clsid_text() const {
    if (!config.clsid) return "";
    return config.clsid->empty() ? derived_clsid_text(config.name) : *config.clsid;
}

bool AsioDriverState::clsid(CLSID& out) const {
    if (!config.clsid) return false;
    return SUCCEEDED(CLSIDFromString(ondelle::to_wide(clsid_text()).c_str(), &out));
}

void AsioDriverState::remove() {
    std::int64_t never = -1;
    removed_at_ms_.compare_exchange_strong(never, steady_ms());
}

bool AsioDriverState::installed() const {
    return config.appears_after_ms < 0 || steady_ms() >= created_ms_ + config.appears_after_ms;
}

bool AsioDriverState::removed() const {
    const std::int64_t at = removed_at_ms_.load();
    if (at < 0) return false;
    return config.returns_after_ms < 0 || steady_ms() < at + config.returns_after_ms;
}

void AsioDriverState::log(const std::string& line) {
    const std::string text = line + "\n";
    log_file_.append(text.data(), text.size());
}

void AsioDriverState::capture(const BYTE* data, std::size_t size) {
    capture_file_.append(data, size);
}

}  // namespace compat

namespace {

// The one key that can be opened; closing it is all that needs doing.
const HKEY asio_key = reinterpret_cast<HKEY>(std::uintptr_t(0x5A510));

const compat::AsioDriverState* find_driver(LPCWSTR name) {
    const auto simulation = compat::current_simulation();
    const std::string wanted = ondelle::to_utf8(name);
    for (const auto& driver : simulation->asio_drivers)
        if (driver->config.name == wanted && driver->installed()) return driver.get();
    return nullptr;
}

}  // namespace

LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR sub_key, DWORD, REGSAM, PHKEY result) {
    if (!result || !sub_key) return ERROR_INVALID_HANDLE;
    *result = nullptr;
    if (key != HKEY_LOCAL_MACHINE || ondelle::to_utf8(sub_key) != "SOFTWARE\\ASIO" ||
        !compat::current_simulation()->config.asio_key)
        return ERROR_FILE_NOT_FOUND;
    *result = asio_key;
    return ERROR_SUCCESS;
}

LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD name_length, LPDWORD, LPWSTR,
                      LPDWORD, FILETIME*) {
    if (key != asio_key || !name || !name_length) return ERROR_INVALID_HANDLE;
    const auto simulation = compat::current_simulation();
    std::vector<const compat::AsioDriverState*> installed;
    for (const auto& driver : simulation->asio_drivers)
        if (driver->installed()) installed.push_back(driver.get());
    if (index >= installed.size()) return ERROR_NO_MORE_ITEMS;
    const std::wstring wide = ondelle::to_wide(installed[index]->config.name);
    if (wide.size() + 1 > *name_length) return ERROR_MORE_DATA;
    std::copy(wide.c_str(), wide.c_str() + wide.size() + 1, name);
    *name_length = DWORD(wide.size());
    return ERROR_SUCCESS;
}

LSTATUS RegGetValueW(HKEY key, LPCWSTR sub_key, LPCWSTR value, DWORD flags, LPDWORD type,
                     PVOID data, LPDWORD data_bytes) {
    if (key != asio_key || !sub_key || !value) return ERROR_INVALID_HANDLE;
    const compat::AsioDriverState* driver = find_driver(sub_key);
    if (!driver || ondelle::to_utf8(value) != "CLSID" || !driver->config.clsid ||
        !(flags & RRF_RT_REG_SZ))
        return ERROR_FILE_NOT_FOUND;
    const std::wstring wide = ondelle::to_wide(driver->clsid_text());
    const DWORD needed = DWORD((wide.size() + 1) * sizeof(wchar_t));
    if (type) *type = REG_SZ;
    if (!data_bytes) return data ? ERROR_INVALID_HANDLE : ERROR_SUCCESS;
    const DWORD room = *data_bytes;
    *data_bytes = needed;
    if (!data) return ERROR_SUCCESS;
    if (room < needed) return ERROR_MORE_DATA;
    std::copy(wide.c_str(), wide.c_str() + wide.size() + 1, static_cast<wchar_t*>(data));
    return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key) {
    // The ASIO key, or one of the event log's keys that an installer opened.
    return key ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

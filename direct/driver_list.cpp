// The registry walk, the --driver rule and the capability listing.
#include "driver_list.h"

#include <windows.h>

#include "format.h"
#include "sample_types.h"
#include "support/text.h"
#include "win/name_match.h"

namespace ondelle::direct {

namespace {

// Closes a registry key when it goes.
class RegistryKey {
  public:
    RegistryKey() = default;
    ~RegistryKey() {
        if (key_) RegCloseKey(key_);
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    HKEY get() const { return key_; }
    PHKEY put() { return &key_; }

  private:
    HKEY key_ = nullptr;
};

}  // namespace

std::optional<std::vector<DriverEntry>> registered_drivers() {
    RegistryKey asio;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ASIO", 0, KEY_READ | KEY_WOW64_64KEY,
                      asio.put()) != ERROR_SUCCESS)
        return std::nullopt;
    std::vector<DriverEntry> drivers;
    for (DWORD index = 0;; ++index) {
        WCHAR name[256] = {};
        DWORD length = 256;
        if (RegEnumKeyExW(asio.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        // 64 UTF-16 units (128 bytes on Windows): a CLSID text needs 39.
        WCHAR text[64] = {};
        DWORD bytes = sizeof text;
        DriverEntry entry;
        if (RegGetValueW(asio.get(), name, L"CLSID", RRF_RT_REG_SZ, nullptr, text, &bytes) !=
                ERROR_SUCCESS ||
            FAILED(CLSIDFromString(text, &entry.clsid)))
            continue;
        entry.name = to_utf8(name);
        drivers.push_back(std::move(entry));
    }
    return drivers;
}

const DriverEntry* choose_driver(const std::vector<DriverEntry>& drivers, const std::string& name) {
    if (name.empty()) return nullptr;
    std::vector<std::string> names;
    names.reserve(drivers.size());
    for (const auto& entry : drivers)
        names.push_back(entry.name);
    const auto chosen = choose_by_name(names, name);
    return chosen ? &drivers[*chosen] : nullptr;
}

std::string caps_listing(const Caps& caps) {
    std::string text = "    PCM:";
    for (const std::int32_t rate : caps.rates) {
        text += ' ';
        text += std::to_string(rate);
    }
    text += "  (sample type ";
    text += std::to_string(caps.sample_type);
    text += ")\n";
    if (caps.dsd_rates.empty()) return text + "    native DSD: no\n";
    text += "    native DSD:";
    for (const std::int32_t rate : caps.dsd_rates) {
        text += ' ';
        text += dsd_rate_name(rate);
    }
    text += sample_type_of(caps.dsd_sample_type).lsb_first ? "  (LSB-first)\n" : "  (MSB-first)\n";
    return text;
}

}  // namespace ondelle::direct

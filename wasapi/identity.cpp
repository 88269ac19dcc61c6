#include "identity.h"

#include <functiondiscoverykeys_devpkey.h>

#include <cctype>

#include "com_ptr.h"
#include "support/text.h"

namespace ondelle {

std::string computer_name() {
    WCHAR buffer[16] = L"windows";
    DWORD size = 16;
    GetComputerNameW(buffer, &size);
    return to_utf8(buffer);
}

std::string friendly_name(IMMDevice* device) {
    ComPtr<IPropertyStore> properties;
    if (FAILED(device->OpenPropertyStore(STGM_READ, properties.put())) || !properties) return "?";
    PROPVARIANT value;
    PropVariantInit(&value);
    std::string name = "?";
    if (SUCCEEDED(properties->GetValue(PKEY_Device_FriendlyName, &value)) &&
        value.vt == VT_LPWSTR && value.pwszVal)
        name = to_utf8(value.pwszVal);
    PropVariantClear(&value);
    return name;
}

std::string endpoint_id(const std::string& computer, const std::string& friendly) {
    std::string reduced;
    for (const char c : friendly) {
        const auto byte = static_cast<unsigned char>(c);
        if (reduced.size() < 24 && std::isalnum(byte)) reduced += char(std::tolower(byte));
    }
    return "ondelle-wasapi-" + computer + "-" + reduced;
}

std::string default_display_name(const std::string& computer, const std::string& friendly) {
    return computer + " \xc2\xb7 " + friendly;
}

}  // namespace ondelle

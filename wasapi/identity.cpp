// The device's friendly name and the identifier ondelle-wasapi makes of it.
#include "identity.h"

#include <functiondiscoverykeys_devpkey.h>

#include "program_name.h"
#include "support/text.h"
#include "win/com_ptr.h"
#include "win/task_memory.h"

namespace ondelle::wasapi {

std::string friendly_name(IMMDevice* device) {
    ComPtr<IPropertyStore> properties;
    if (FAILED(device->OpenPropertyStore(STGM_READ, properties.put())) || !properties) return "?";
    PropVariant value;
    if (SUCCEEDED(properties->GetValue(PKEY_Device_FriendlyName, value.get())) &&
        (*value).vt == VT_LPWSTR && (*value).pwszVal)
        return to_utf8((*value).pwszVal);
    return "?";
}

std::string endpoint_id(const std::string& computer, const std::string& friendly) {
    return make_endpoint_id(program_name, computer, friendly);
}

}  // namespace ondelle::wasapi

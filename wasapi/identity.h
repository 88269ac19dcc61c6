// Who ondelle-wasapi says it is: the device's friendly name and the identifier made of it.
#pragma once

#include <windows.h>

#include <mmdeviceapi.h>

#include <string>

#include "win/identity.h"

namespace ondelle::wasapi {

// The device's friendly name, or "?" when it has none that is text.
std::string friendly_name(IMMDevice* device);

// "ondelle-wasapi-" + computer + "-" + the letters and digits of the friendly name,
// lowercased, at most 24 of them.
std::string endpoint_id(const std::string& computer, const std::string& friendly);

}  // namespace ondelle::wasapi

// Who the endpoint says it is: names read from Windows and the identifier made of them.
#pragma once

#include <windows.h>

#include <mmdeviceapi.h>

#include <string>

namespace ondelle {

// GetComputerNameW's answer, or "windows" when it has none.
std::string computer_name();

// The device's friendly name, or "?" when it has none that is text.
std::string friendly_name(IMMDevice* device);

// "ondelle-wasapi-" + computer + "-" + the letters and digits of the friendly name,
// lowercased, at most 24 of them.
std::string endpoint_id(const std::string& computer, const std::string& friendly);

// computer + " · " + friendly.
std::string default_display_name(const std::string& computer, const std::string& friendly);

}  // namespace ondelle

// Asking a device which exclusive-mode layouts it takes (Windows will not list them), the
// table for the Windows mixer, and the listing of either.
#pragma once

#include <windows.h>

#include <mmdeviceapi.h>

#include <string>

#include "device_caps.h"

namespace ondelle::wasapi {

// The result of the last failed probe call (S_OK until one fails); the listing shows it when a
// device took nothing.
extern HRESULT last_probe_error;

DeviceCaps probe_exclusive(IMMDevice* device, bool with_dop);
DeviceCaps probe_shared(IMMDevice* device);

// One line per PCM rate and per DoP rate, or the nothing-in-exclusive-mode line.
std::string format_caps(const DeviceCaps& caps);
void print_caps(const DeviceCaps& caps);  // to standard output

}  // namespace ondelle::wasapi

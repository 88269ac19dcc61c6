#pragma once

#include <windows.h>

extern const PROPERTYKEY PKEY_Device_FriendlyName;

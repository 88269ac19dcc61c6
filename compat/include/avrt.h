#pragma once

#include <windows.h>

HANDLE AvSetMmThreadCharacteristicsW(LPCWSTR task_name, LPDWORD task_index);
BOOL AvRevertMmThreadCharacteristics(HANDLE avrt_handle);

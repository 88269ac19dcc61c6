// Thread names on Windows: SetThreadDescription where the system has it (Windows 10 1607 on).
#include <windows.h>

#include "support/text.h"
#include "support/thread.h"

namespace ondelle {

void name_this_thread(const char* name) {
    using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (!kernel) return;
    const auto set_description = reinterpret_cast<SetDescription>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetThreadDescription")));
    if (set_description) set_description(GetCurrentThread(), to_wide(name).c_str());
}

}  // namespace ondelle

// Loads the test ASIO driver through COM alone, as any host would, and says what it found:
// under Wine this tells a broken driver or registration from a broken program.
#include <windows.h>

#include <objbase.h>

#include <cstdio>

#include "iasio.h"

using namespace ondelle::asio;

int main() {
    // {6F6E6465-6C6C-6554-6573-744153494F31}
    const CLSID clsid = {
        0x6F6E6465, 0x6C6C, 0x6554, {0x65, 0x73, 0x74, 0x41, 0x53, 0x49, 0x4F, 0x31}};
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IASIO* driver = nullptr;
    const HRESULT result = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, clsid,
                                            reinterpret_cast<void**>(&driver));
    if (FAILED(result) || !driver) {
        std::printf("not loaded (0x%08lx)\n", static_cast<unsigned long>(result));
        return 1;
    }
    std::int32_t inputs = 0, outputs = 0;
    const bool ready = driver->init(nullptr) && driver->getChannels(&inputs, &outputs) == ASE_OK;
    char name[32] = {};
    driver->getDriverName(name);
    std::printf("%s: %s, %d outputs\n", name, ready ? "ready" : "not ready", int(outputs));
    driver->Release();
    CoUninitialize();
    return ready ? 0 : 1;
}

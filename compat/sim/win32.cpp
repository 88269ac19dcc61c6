// The plain Win32, runtime, COM and AVRT calls the programs make, over POSIX and the C++
// library, and the GUIDs of the interfaces the simulation implements.
#include <audioclient.h>
#include <avrt.h>
#include <endpointvolume.h>
#include <functiondiscoverykeys_devpkey.h>
#include <ksmedia.h>
#include <mmdeviceapi.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "simulation.h"
#include "support/text.h"

const CLSID CLSID_MMDeviceEnumerator = {
    0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};
const IID IID_IMMDeviceEnumerator = {
    0xA95664D2, 0x9614, 0x4F35, {0xA7, 0x46, 0xDE, 0x8D, 0xB6, 0x36, 0x17, 0xE6}};
const IID IID_IAudioClient = {
    0x1CB9AD4C, 0xDBFA, 0x4C32, {0xB1, 0x78, 0xC2, 0xF5, 0x68, 0xA7, 0x03, 0xB2}};
const IID IID_IAudioRenderClient = {
    0xF294ACFC, 0x3146, 0x4483, {0xA7, 0xBF, 0xAD, 0xDC, 0xA7, 0xC2, 0x60, 0xE2}};
const IID IID_IAudioClock = {
    0xCD63314F, 0x3FBA, 0x4A1B, {0x81, 0x2C, 0xEF, 0x96, 0x35, 0x87, 0x28, 0xE7}};
const IID IID_IAudioEndpointVolume = {
    0x5CDF2C82, 0x841E, 0x4546, {0x97, 0x22, 0x0C, 0xF7, 0x40, 0x78, 0x22, 0x9A}};
const PROPERTYKEY PKEY_Device_FriendlyName = {
    {0xA45C254E, 0xDF1C, 0x4EFD, {0x80, 0x20, 0x67, 0xD1, 0x46, 0xA8, 0x50, 0xE0}}, 14};
const GUID KSDATAFORMAT_SUBTYPE_PCM = {
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
const GUID KSDATAFORMAT_SUBTYPE_IEEE_FLOAT = {
    0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

namespace compat {
HRESULT create_enumerator(void** object);
}

namespace {

struct Event {
    std::mutex mutex;
    std::condition_variable signalled_cond;
    bool manual_reset = false;
    bool signalled = false;
};

// Handles are numbers that name an event here; a closed or unknown handle fails its calls.
class EventTable {
  public:
    HANDLE add(std::shared_ptr<Event> event) {
        std::lock_guard lock(mutex_);
        const auto handle = reinterpret_cast<HANDLE>(next_++);
        events_.emplace(handle, std::move(event));
        return handle;
    }
    std::shared_ptr<Event> find(HANDLE handle) {
        std::lock_guard lock(mutex_);
        const auto found = events_.find(handle);
        return found == events_.end() ? nullptr : found->second;
    }
    bool remove(HANDLE handle) {
        std::lock_guard lock(mutex_);
        return events_.erase(handle) == 1;
    }

  private:
    std::mutex mutex_;
    std::uintptr_t next_ = 0x100;
    std::map<HANDLE, std::shared_ptr<Event>> events_;
};

EventTable& event_table() {
    static EventTable table;
    return table;
}

}  // namespace

HANDLE CreateEventW(void*, BOOL manual_reset, BOOL initial_state, LPCWSTR) {
    auto event = std::make_shared<Event>();
    event->manual_reset = manual_reset != FALSE;
    event->signalled = initial_state != FALSE;
    return event_table().add(std::move(event));
}

BOOL SetEvent(HANDLE handle) {
    const auto event = event_table().find(handle);
    if (!event) return FALSE;
    {
        std::lock_guard lock(event->mutex);
        event->signalled = true;
    }
    event->signalled_cond.notify_all();
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    const auto event = event_table().find(handle);
    if (!event) return WAIT_FAILED;
    std::unique_lock lock(event->mutex);
    const auto ready = [&] { return event->signalled; };
    if (milliseconds == INFINITE)
        event->signalled_cond.wait(lock, ready);
    else if (!event->signalled_cond.wait_for(lock, std::chrono::milliseconds(milliseconds), ready))
        return WAIT_TIMEOUT;
    if (!event->manual_reset) event->signalled = false;
    return WAIT_OBJECT_0;
}

BOOL CloseHandle(HANDLE handle) {
    return event_table().remove(handle) ? TRUE : FALSE;
}

void Sleep(DWORD milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

ULONGLONG GetTickCount64() {
    return ULONGLONG(std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now().time_since_epoch())
                         .count());
}

BOOL GetComputerNameW(LPWSTR buffer, LPDWORD size) {
    if (!buffer || !size) return FALSE;
    std::string name = compat::current_simulation()->config.computer_name;
    if (name.empty()) {
        char host[256] = {};
        if (gethostname(host, sizeof host - 1) != 0) return FALSE;
        name = host;
        name = name.substr(0, name.find('.'));
        name = name.substr(0, MAX_COMPUTERNAME_LENGTH);
        for (auto& c : name)
            c = char(std::toupper(static_cast<unsigned char>(c)));
    }
    const std::wstring wide = ondelle::to_wide(name);
    if (wide.size() + 1 > *size) {
        *size = DWORD(wide.size() + 1);
        return FALSE;
    }
    std::copy(wide.c_str(), wide.c_str() + wide.size() + 1, buffer);
    *size = DWORD(wide.size());
    return TRUE;
}

BOOL SetConsoleOutputCP(UINT) {
    return TRUE;
}  // terminals here speak UTF-8 already

BOOL GetFileAttributesExW(LPCWSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID information) {
    if (!path || level != GetFileExInfoStandard || !information) return FALSE;
    struct stat status {};
    if (stat(ondelle::to_utf8(path).c_str(), &status) != 0) return FALSE;
    auto* data = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(information);
    *data = {};
    data->dwFileAttributes = S_ISDIR(status.st_mode) ? 0x10 : 0x80;
    const auto file_size = std::uint64_t(status.st_size);
    data->nFileSizeHigh = DWORD(file_size >> 32);
    data->nFileSizeLow = DWORD(file_size);
    return TRUE;
}

FILE* _wfreopen(const wchar_t* path, const wchar_t* mode, FILE* stream) {
    if (!path || !mode) return nullptr;
    return std::freopen(ondelle::to_utf8(path).c_str(), ondelle::to_utf8(mode).c_str(), stream);
}

__time64_t _time64(__time64_t* out) {
    const auto now = __time64_t(std::time(nullptr));
    if (out) *out = now;
    return now;
}

char* _ctime64(const __time64_t* time) {
    if (!time) return nullptr;
    const std::time_t t = std::time_t(*time);
    return std::ctime(&t);
}

HRESULT CoInitializeEx(LPVOID, DWORD) {
    return S_OK;
}
void CoUninitialize() {}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD, REFIID riid, LPVOID* object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return E_NOINTERFACE;
    if (!(clsid == CLSID_MMDeviceEnumerator)) return REGDB_E_CLASSNOTREG;
    if (!(riid == IID_IMMDeviceEnumerator)) return E_NOINTERFACE;
    return compat::create_enumerator(object);
}

LPVOID CoTaskMemAlloc(std::size_t size) {
    return std::malloc(size);
}
void CoTaskMemFree(LPVOID memory) {
    std::free(memory);
}

HRESULT PropVariantClear(PROPVARIANT* value) {
    if (!value) return E_POINTER;
    if (value->vt == VT_LPWSTR) CoTaskMemFree(value->pwszVal);
    PropVariantInit(value);
    return S_OK;
}

HANDLE AvSetMmThreadCharacteristicsW(LPCWSTR task_name, LPDWORD task_index) {
    if (!task_name || !task_index) return nullptr;
    *task_index = 1;
    return reinterpret_cast<HANDLE>(std::uintptr_t(1));
}

BOOL AvRevertMmThreadCharacteristics(HANDLE avrt_handle) {
    return avrt_handle ? TRUE : FALSE;
}

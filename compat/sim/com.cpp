// COM and AVRT: apartments, object creation, task memory and property values, and the GUIDs
// of the interfaces the simulation implements.
#include <audioclient.h>
#include <avrt.h>
#include <endpointvolume.h>
#include <functiondiscoverykeys_devpkey.h>
#include <ksmedia.h>
#include <mmdeviceapi.h>

#include <cstdint>
#include <cstdlib>

const CLSID CLSID_MMDeviceEnumerator = {
    0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};
const IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
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
const IID IID_IAudioEndpointVolumeCallback = {
    0x657804FA, 0xD6AD, 0x4496, {0x8A, 0x60, 0x35, 0x27, 0x52, 0xAF, 0x4F, 0x89}};
const PROPERTYKEY PKEY_Device_FriendlyName = {
    {0xA45C254E, 0xDF1C, 0x4EFD, {0x80, 0x20, 0x67, 0xD1, 0x46, 0xA8, 0x50, 0xE0}}, 14};
const GUID KSDATAFORMAT_SUBTYPE_PCM = {
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
const GUID KSDATAFORMAT_SUBTYPE_IEEE_FLOAT = {
    0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

namespace compat {
HRESULT create_enumerator(void** object);
// True when clsid is a simulated ASIO driver's; result is then what creating it gave.
bool create_asio_driver(REFCLSID clsid, REFIID riid, void** object, HRESULT& result);
bool create_firewall_object(REFCLSID clsid, REFIID riid, void** object, HRESULT& result);
}  // namespace compat

HRESULT CoInitializeEx(LPVOID, DWORD) {
    return S_OK;
}
void CoUninitialize() {}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD, REFIID riid, LPVOID* object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return E_NOINTERFACE;
    if (HRESULT result = S_OK; compat::create_asio_driver(clsid, riid, object, result))
        return result;
    if (HRESULT result = S_OK; compat::create_firewall_object(clsid, riid, object, result))
        return result;
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

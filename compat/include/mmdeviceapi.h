#pragma once

#include <windows.h>

enum EDataFlow { eRender, eCapture, eAll };
enum ERole { eConsole, eMultimedia, eCommunications };
#define DEVICE_STATE_ACTIVE 0x1
#define DEVICE_STATE_DISABLED 0x2
#define DEVICE_STATE_NOTPRESENT 0x4
#define DEVICE_STATE_UNPLUGGED 0x8

struct IMMDevice : IUnknown {
    virtual HRESULT Activate(REFIID iid, DWORD context, PROPVARIANT* params, void** interface) = 0;
    virtual HRESULT OpenPropertyStore(DWORD access, IPropertyStore** properties) = 0;
    virtual HRESULT GetId(LPWSTR* id) = 0;
    virtual HRESULT GetState(DWORD* state) = 0;
};

struct IMMDeviceCollection : IUnknown {
    virtual HRESULT GetCount(UINT* count) = 0;
    virtual HRESULT Item(UINT index, IMMDevice** device) = 0;
};

struct IMMDeviceEnumerator : IUnknown {
    virtual HRESULT EnumAudioEndpoints(EDataFlow flow, DWORD state_mask,
                                       IMMDeviceCollection** devices) = 0;
    virtual HRESULT GetDefaultAudioEndpoint(EDataFlow flow, ERole role, IMMDevice** endpoint) = 0;
    virtual HRESULT GetDevice(LPCWSTR id, IMMDevice** device) = 0;
};

extern const CLSID CLSID_MMDeviceEnumerator;
extern const IID IID_IMMDeviceEnumerator;

#pragma once

#include <windows.h>

enum EDataFlow { eRender, eCapture, eAll };
enum ERole { eConsole, eMultimedia, eCommunications };
#define DEVICE_STATE_ACTIVE 0x1

struct IMMDevice : IUnknown {
    virtual HRESULT Activate(REFIID iid, DWORD context, PROPVARIANT* params, void** interface) = 0;
    virtual HRESULT OpenPropertyStore(DWORD access, IPropertyStore** properties) = 0;
};

struct IMMDeviceCollection : IUnknown {
    virtual HRESULT GetCount(UINT* count) = 0;
    virtual HRESULT Item(UINT index, IMMDevice** device) = 0;
};

struct IMMDeviceEnumerator : IUnknown {
    virtual HRESULT EnumAudioEndpoints(EDataFlow flow, DWORD state_mask,
                                       IMMDeviceCollection** devices) = 0;
    virtual HRESULT GetDefaultAudioEndpoint(EDataFlow flow, ERole role, IMMDevice** endpoint) = 0;
};

extern const CLSID CLSID_MMDeviceEnumerator;
extern const IID IID_IMMDeviceEnumerator;

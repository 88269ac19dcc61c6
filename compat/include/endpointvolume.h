#pragma once

#include <windows.h>

#define ENDPOINT_HARDWARE_SUPPORT_VOLUME 0x1
#define ENDPOINT_HARDWARE_SUPPORT_MUTE 0x2

struct IAudioEndpointVolume : IUnknown {
    virtual HRESULT SetMasterVolumeLevelScalar(float level, LPCGUID event_context) = 0;
    virtual HRESULT GetMasterVolumeLevel(float* level_db) = 0;
    virtual HRESULT GetMasterVolumeLevelScalar(float* level) = 0;
    virtual HRESULT SetMute(BOOL mute, LPCGUID event_context) = 0;
    virtual HRESULT GetMute(BOOL* mute) = 0;
    virtual HRESULT QueryHardwareSupport(DWORD* hardware_support_mask) = 0;
};

extern const IID IID_IAudioEndpointVolume;

#pragma once

#include <windows.h>

#define ENDPOINT_HARDWARE_SUPPORT_VOLUME 0x1
#define ENDPOINT_HARDWARE_SUPPORT_MUTE 0x2

// What a change of the endpoint volume tells the callbacks registered for it.
struct AUDIO_VOLUME_NOTIFICATION_DATA {
    GUID guidEventContext;
    BOOL bMuted;
    float fMasterVolume;
    UINT nChannels;
    float afChannelVolumes[1];
};
using PAUDIO_VOLUME_NOTIFICATION_DATA = AUDIO_VOLUME_NOTIFICATION_DATA*;

struct IAudioEndpointVolumeCallback : IUnknown {
    virtual HRESULT OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA notification) = 0;
};

struct IAudioEndpointVolume : IUnknown {
    virtual HRESULT RegisterControlChangeNotify(IAudioEndpointVolumeCallback* notify) = 0;
    virtual HRESULT UnregisterControlChangeNotify(IAudioEndpointVolumeCallback* notify) = 0;
    virtual HRESULT SetMasterVolumeLevelScalar(float level, LPCGUID event_context) = 0;
    virtual HRESULT GetMasterVolumeLevel(float* level_db) = 0;
    virtual HRESULT GetMasterVolumeLevelScalar(float* level) = 0;
    virtual HRESULT SetMute(BOOL mute, LPCGUID event_context) = 0;
    virtual HRESULT GetMute(BOOL* mute) = 0;
    virtual HRESULT QueryHardwareSupport(DWORD* hardware_support_mask) = 0;
};

extern const IID IID_IAudioEndpointVolume;
extern const IID IID_IAudioEndpointVolumeCallback;

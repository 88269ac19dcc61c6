#pragma once

#include <mmreg.h>
#include <windows.h>

using REFERENCE_TIME = LONGLONG;

enum AUDCLNT_SHAREMODE { AUDCLNT_SHAREMODE_SHARED, AUDCLNT_SHAREMODE_EXCLUSIVE };

#define AUDCLNT_STREAMFLAGS_EVENTCALLBACK 0x00040000
#define AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY 0x08000000
#define AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM 0x80000000

#define AUDCLNT_E_DEVICE_INVALIDATED ((HRESULT)0x88890004)
#define AUDCLNT_E_NOT_INITIALIZED ((HRESULT)0x88890001)
#define AUDCLNT_E_ALREADY_INITIALIZED ((HRESULT)0x88890002)
#define AUDCLNT_E_NOT_STOPPED ((HRESULT)0x88890005)
#define AUDCLNT_E_BUFFER_TOO_LARGE ((HRESULT)0x88890006)
#define AUDCLNT_E_OUT_OF_ORDER ((HRESULT)0x88890007)
#define AUDCLNT_E_UNSUPPORTED_FORMAT ((HRESULT)0x88890008)
#define AUDCLNT_E_INVALID_SIZE ((HRESULT)0x88890009)
#define AUDCLNT_E_DEVICE_IN_USE ((HRESULT)0x8889000A)
#define AUDCLNT_E_BUFFER_OPERATION_PENDING ((HRESULT)0x8889000B)
#define AUDCLNT_E_BUFDURATION_PERIOD_NOT_EQUAL ((HRESULT)0x88890013)
#define AUDCLNT_E_EVENTHANDLE_NOT_SET ((HRESULT)0x88890014)
#define AUDCLNT_E_BUFFER_SIZE_ERROR ((HRESULT)0x88890016)
#define AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED ((HRESULT)0x88890019)
#define AUDCLNT_E_INVALID_DEVICE_PERIOD ((HRESULT)0x88890020)

struct IAudioClient : IUnknown {
    virtual HRESULT Initialize(AUDCLNT_SHAREMODE share_mode, DWORD stream_flags,
                               REFERENCE_TIME buffer_duration, REFERENCE_TIME periodicity,
                               const WAVEFORMATEX* format, LPCGUID session) = 0;
    virtual HRESULT GetBufferSize(UINT32* frames) = 0;
    virtual HRESULT GetCurrentPadding(UINT32* frames) = 0;
    virtual HRESULT IsFormatSupported(AUDCLNT_SHAREMODE share_mode, const WAVEFORMATEX* format,
                                      WAVEFORMATEX** closest_match) = 0;
    virtual HRESULT GetMixFormat(WAVEFORMATEX** format) = 0;
    virtual HRESULT GetDevicePeriod(REFERENCE_TIME* default_period,
                                    REFERENCE_TIME* minimum_period) = 0;
    virtual HRESULT Start() = 0;
    virtual HRESULT Stop() = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT SetEventHandle(HANDLE event) = 0;
    virtual HRESULT GetService(REFIID riid, void** service) = 0;
};

struct IAudioRenderClient : IUnknown {
    virtual HRESULT GetBuffer(UINT32 frames, BYTE** data) = 0;
    virtual HRESULT ReleaseBuffer(UINT32 frames, DWORD flags) = 0;
};

struct IAudioClock : IUnknown {
    virtual HRESULT GetFrequency(UINT64* frequency) = 0;
    virtual HRESULT GetPosition(UINT64* position, UINT64* qpc_position) = 0;
};

extern const IID IID_IAudioClient;
extern const IID IID_IAudioRenderClient;
extern const IID IID_IAudioClock;

// The ASIO driver interface as drivers implement it: an in-process COM object with the
// methods below in exactly this order, and the records it exchanges with its host.
//
// The driver interface speaks of "long", which is 32 bits on Windows; here every such member
// is std::int32_t, so that the records have the drivers' layout on every system. Members are
// in the published order with natural alignment.
#pragma once

#include <windows.h>

#include <objbase.h>

#include <cstdint>

namespace ondelle::asio {

using ASIOBool = std::int32_t;
using ASIOError = std::int32_t;
using ASIOSampleRate = double;
using ASIOSampleType = std::int32_t;
using ASIOIoFormatType = std::int32_t;

constexpr ASIOBool ASIOFalse = 0;
constexpr ASIOBool ASIOTrue = 1;

// Errors. ASE_SUCCESS answers the "future" selectors a driver knows.
constexpr ASIOError ASE_OK = 0;
constexpr ASIOError ASE_SUCCESS = 0x3f4847a0;
constexpr ASIOError ASE_NotPresent = -1000;
constexpr ASIOError ASE_HWMalfunction = -999;
constexpr ASIOError ASE_InvalidParameter = -998;
constexpr ASIOError ASE_InvalidMode = -997;
constexpr ASIOError ASE_SPNotAdvancing = -996;
constexpr ASIOError ASE_NoClock = -995;
constexpr ASIOError ASE_NoMemory = -994;

// Sample types. The DSD types carry eight one-bit samples per byte.
constexpr ASIOSampleType ASIOSTInt16MSB = 0;
constexpr ASIOSampleType ASIOSTInt24MSB = 1;
constexpr ASIOSampleType ASIOSTInt32MSB = 2;
constexpr ASIOSampleType ASIOSTFloat32MSB = 3;
constexpr ASIOSampleType ASIOSTFloat64MSB = 4;
constexpr ASIOSampleType ASIOSTInt32MSB16 = 8;
constexpr ASIOSampleType ASIOSTInt32MSB18 = 9;
constexpr ASIOSampleType ASIOSTInt32MSB20 = 10;
constexpr ASIOSampleType ASIOSTInt32MSB24 = 11;
constexpr ASIOSampleType ASIOSTInt16LSB = 16;
constexpr ASIOSampleType ASIOSTInt24LSB = 17;
constexpr ASIOSampleType ASIOSTInt32LSB = 18;
constexpr ASIOSampleType ASIOSTFloat32LSB = 19;
constexpr ASIOSampleType ASIOSTFloat64LSB = 20;
constexpr ASIOSampleType ASIOSTInt32LSB16 = 24;
constexpr ASIOSampleType ASIOSTInt32LSB18 = 25;
constexpr ASIOSampleType ASIOSTInt32LSB20 = 26;
constexpr ASIOSampleType ASIOSTInt32LSB24 = 27;
constexpr ASIOSampleType ASIOSTDSDInt8LSB1 = 32;
constexpr ASIOSampleType ASIOSTDSDInt8MSB1 = 33;
constexpr ASIOSampleType ASIOSTDSDInt8NER8 = 40;

// The host's message selectors (asioMessage).
constexpr std::int32_t kAsioSelectorSupported = 1;
constexpr std::int32_t kAsioEngineVersion = 2;
constexpr std::int32_t kAsioResetRequest = 3;
constexpr std::int32_t kAsioBufferSizeChange = 4;
constexpr std::int32_t kAsioResyncRequest = 5;
constexpr std::int32_t kAsioLatenciesChanged = 6;
constexpr std::int32_t kAsioSupportsTimeInfo = 7;
constexpr std::int32_t kAsioSupportsTimeCode = 8;

// The "future" selectors that switch between PCM and DSD.
constexpr std::int32_t kAsioSetIoFormat = 0x23111961;
constexpr std::int32_t kAsioGetIoFormat = 0x23111983;
constexpr std::int32_t kAsioCanDoIoFormat = 0x23112004;
constexpr ASIOIoFormatType kASIOPCMFormat = 0;
constexpr ASIOIoFormatType kASIODSDFormat = 1;

// A 64-bit count split into two 32-bit halves.
struct ASIOSamples {
    std::uint32_t hi;
    std::uint32_t lo;
};
struct ASIOTimeStamp {
    std::uint32_t hi;
    std::uint32_t lo;
};

struct ASIOClockSource {
    std::int32_t index;
    std::int32_t associatedChannel;
    std::int32_t associatedGroup;
    ASIOBool isCurrentSource;
    char name[32];
};

struct ASIOChannelInfo {
    std::int32_t channel;
    ASIOBool isInput;
    ASIOBool isActive;
    std::int32_t channelGroup;
    ASIOSampleType type;
    char name[32];
};

struct ASIOBufferInfo {
    ASIOBool isInput;
    std::int32_t channelNum;
    void* buffers[2];  // the two half buffers, filled in by createBuffers
};

struct ASIOTimeCode {
    double speed;
    ASIOSamples timeCodeSamples;
    std::uint32_t flags;
    char future[64];
};

struct AsioTimeInfo {
    double speed;
    ASIOTimeStamp systemTime;
    ASIOSamples samplePosition;
    ASIOSampleRate sampleRate;
    std::uint32_t flags;
    char reserved[12];
};

struct ASIOTime {
    std::int32_t reserved[4];
    AsioTimeInfo timeInfo;
    ASIOTimeCode timeCode;
};

struct ASIOCallbacks {
    void (*bufferSwitch)(std::int32_t doubleBufferIndex, ASIOBool directProcess);
    void (*sampleRateDidChange)(ASIOSampleRate sRate);
    std::int32_t (*asioMessage)(std::int32_t selector, std::int32_t value, void* message,
                                double* opt);
    ASIOTime* (*bufferSwitchTimeInfo)(ASIOTime* params, std::int32_t doubleBufferIndex,
                                      ASIOBool directProcess);
};

struct ASIOIoFormat {
    ASIOIoFormatType FormatType;
    char future[512 - sizeof(ASIOIoFormatType)];
};

static_assert(sizeof(ASIOClockSource) == 48);
static_assert(sizeof(ASIOChannelInfo) == 52);
static_assert(sizeof(ASIOBufferInfo) == 8 + 2 * sizeof(void*));
static_assert(sizeof(ASIOIoFormat) == 512);
static_assert(sizeof(AsioTimeInfo) == 48);
static_assert(sizeof(ASIOTimeCode) == 88);
static_assert(sizeof(ASIOTime) == 16 + 48 + 88);

// The driver. Its class identifier doubles as the interface identifier when it is created.
struct IASIO : IUnknown {
    virtual ASIOBool init(void* sysHandle) = 0;
    virtual void getDriverName(char* name) = 0;  // at most 32 bytes
    virtual std::int32_t getDriverVersion() = 0;
    virtual void getErrorMessage(char* string) = 0;  // at most 124 bytes
    virtual ASIOError start() = 0;
    virtual ASIOError stop() = 0;
    virtual ASIOError getChannels(std::int32_t* numInputChannels,
                                  std::int32_t* numOutputChannels) = 0;
    virtual ASIOError getLatencies(std::int32_t* inputLatency, std::int32_t* outputLatency) = 0;
    virtual ASIOError getBufferSize(std::int32_t* minSize, std::int32_t* maxSize,
                                    std::int32_t* preferredSize, std::int32_t* granularity) = 0;
    virtual ASIOError canSampleRate(ASIOSampleRate sampleRate) = 0;
    virtual ASIOError getSampleRate(ASIOSampleRate* sampleRate) = 0;
    virtual ASIOError setSampleRate(ASIOSampleRate sampleRate) = 0;
    virtual ASIOError getClockSources(ASIOClockSource* clocks, std::int32_t* numSources) = 0;
    virtual ASIOError setClockSource(std::int32_t reference) = 0;
    virtual ASIOError getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) = 0;
    virtual ASIOError getChannelInfo(ASIOChannelInfo* info) = 0;
    virtual ASIOError createBuffers(ASIOBufferInfo* bufferInfos, std::int32_t numChannels,
                                    std::int32_t bufferSize, ASIOCallbacks* callbacks) = 0;
    virtual ASIOError disposeBuffers() = 0;
    virtual ASIOError controlPanel() = 0;
    virtual ASIOError future(std::int32_t selector, void* opt) = 0;
    virtual ASIOError outputReady() = 0;

  protected:
    ~IASIO() = default;
};

}  // namespace ondelle::asio

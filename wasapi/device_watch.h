// The render device in use, and its recovery once it goes away (a DAC unplugged or switched
// off): "gone" is said once, and while a sender is there the device is looked for again by
// its identifier once a second (and at every open); found, it is probed again, and the next
// stream plays on it with what it now plays.
#pragma once

#include <windows.h>

#include <mmdeviceapi.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "device_caps.h"
#include "win/com_ptr.h"

namespace ondelle::wasapi {

class DeviceWatch {
  public:
    // device and caps are lent by start-up and outlive the watch.
    DeviceWatch(IMMDevice* device, const DeviceCaps* caps);
    ~DeviceWatch();  // forgets the hooks
    DeviceWatch(const DeviceWatch&) = delete;
    DeviceWatch& operator=(const DeviceWatch&) = delete;

    // Starts looking after the device: probe tells what a device found again plays, on_lost
    // is called once each time it goes, wanted says whether anyone would play now. Call
    // before the device is used; the hooks run on the watch's thread or the sink's.
    void watch(IMMDeviceEnumerator* enumerator, std::wstring id,
               std::function<DeviceCaps(IMMDevice*)> probe, std::function<void()> on_lost,
               std::function<bool()> wanted);
    // The hooks may no longer be called: what they reach is about to go.
    void forget_hooks();

    // The device to open a stream on and what it plays; false while it is gone and not found
    // again. On the thread that opens streams (the player's), which alone uses what it gets.
    bool current(IMMDevice*& device, const DeviceCaps*& caps);

    // The stream found the device gone: says so once, and looks for it again from now on.
    void report_gone();

  private:
    // True when the device is (again) there; under mutex_.
    bool look_for_device();
    void watch_main();

    std::mutex mutex_;
    std::condition_variable cond_;
    // Under mutex_.
    IMMDeviceEnumerator* enumerator_ = nullptr;
    std::wstring id_;
    std::function<DeviceCaps(IMMDevice*)> probe_;
    std::function<void()> on_lost_;
    std::function<bool()> wanted_;
    bool gone_ = false;
    bool quit_ = false;
    ComPtr<IMMDevice> found_device_;
    std::unique_ptr<DeviceCaps> found_caps_;
    std::thread thread_;

    // The device and caps in use: start-up's, or those found again; the opening thread's own.
    IMMDevice* device_;
    const DeviceCaps* caps_;
    ComPtr<IMMDevice> current_device_;
    std::unique_ptr<DeviceCaps> current_caps_;
};

}  // namespace ondelle::wasapi

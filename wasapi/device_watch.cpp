// DeviceWatch: the device in use, told gone once and found again by its identifier.
#include "device_watch.h"

#include <chrono>

#include "program_name.h"
#include "support/thread.h"
#include "win/com_thread.h"
#include "win/device_gone.h"
#include "win/log_line.h"

namespace ondelle::wasapi {

DeviceWatch::DeviceWatch(IMMDevice* device, const DeviceCaps* caps)
    : device_(device), caps_(caps) {}

DeviceWatch::~DeviceWatch() {
    forget_hooks();
}

void DeviceWatch::watch(IMMDeviceEnumerator* enumerator, std::wstring id,
                        std::function<DeviceCaps(IMMDevice*)> probe, std::function<void()> on_lost,
                        std::function<bool()> wanted) {
    std::lock_guard lock(mutex_);
    enumerator_ = enumerator;
    id_ = std::move(id);
    probe_ = std::move(probe);
    on_lost_ = std::move(on_lost);
    wanted_ = std::move(wanted);
    if (!thread_.joinable()) thread_ = start_thread("device watch", [this] { watch_main(); });
}

void DeviceWatch::forget_hooks() {
    {
        std::lock_guard lock(mutex_);
        on_lost_ = nullptr;
        wanted_ = nullptr;
        quit_ = true;
    }
    cond_.notify_all();
    if (thread_.joinable()) thread_.join();
}

bool DeviceWatch::current(IMMDevice*& device, const DeviceCaps*& caps) {
    {
        std::lock_guard lock(mutex_);
        if (!look_for_device()) return false;
        if (found_device_) {
            current_device_ = std::move(found_device_);
            current_caps_ = std::move(found_caps_);
            device_ = current_device_.get();
            caps_ = current_caps_.get();
        }
    }
    device = device_;
    caps = caps_;
    return true;
}

void DeviceWatch::report_gone() {
    {
        std::lock_guard lock(mutex_);
        if (gone_) return;
        gone_ = true;
        log_line(program_name, output_device_gone);
        if (on_lost_) on_lost_();
    }
    cond_.notify_all();
}

bool DeviceWatch::look_for_device() {
    if (!gone_) return true;
    if (!enumerator_) return false;
    ComPtr<IMMDevice> device;
    DWORD state = 0;
    if (FAILED(enumerator_->GetDevice(id_.c_str(), device.put())) || !device ||
        FAILED(device->GetState(&state)) || state != DEVICE_STATE_ACTIVE)
        return false;
    auto caps = std::make_unique<DeviceCaps>(probe_(device.get()));
    if (caps->pcm.empty()) return false;  // not ready to play yet
    found_device_ = std::move(device);
    found_caps_ = std::move(caps);
    gone_ = false;
    log_line(program_name, "the output device is back");
    return true;
}

void DeviceWatch::watch_main() {
    initialize_com_for_thread();
    std::unique_lock lock(mutex_);
    while (!quit_) {
        cond_.wait(lock, [&] { return quit_ || gone_; });
        if (cond_.wait_for(lock, std::chrono::seconds(1), [&] { return quit_; })) break;
        if (gone_ && wanted_ && wanted_()) look_for_device();
    }
}

}  // namespace ondelle::wasapi

// The volume kind of a device, the volume hook and the thread that follows Windows.
#include "windows_volume.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "endpoint.h"
#include "program_name.h"
#include "support/thread.h"
#include "wasapi_sink.h"
#include "win/com_thread.h"

namespace ondelle::wasapi {

const char* volume_kind_text(VolumeKind kind) {
    switch (kind) {
        case VolumeKind::hardware:
            return "the device's hardware volume";
        case VolumeKind::mixer:
            return "Windows' volume (its mixer)";
        case VolumeKind::software:
            return "Windows' volume, applied here";
        case VolumeKind::fixed:
            break;
    }
    return "fixed (the DAC's own knob)";
}

WindowsVolume::WindowsVolume(IMMDevice* device, bool mix, bool follow_system) {
    const bool activated = SUCCEEDED(device->Activate(IID_IAudioEndpointVolume, CLSCTX_ALL, nullptr,
                                                      volume_.put_void())) &&
                           volume_;
    if (!activated) volume_.reset();
    DWORD support = 0;
    if (activated && SUCCEEDED(volume_->QueryHardwareSupport(&support)) &&
        (support & ENDPOINT_HARDWARE_SUPPORT_VOLUME))
        kind_ = VolumeKind::hardware;
    else if (mix)
        kind_ = activated ? VolumeKind::mixer : VolumeKind::fixed;
    else if (follow_system)
        kind_ = activated ? VolumeKind::software : VolumeKind::fixed;
    else
        kind_ = VolumeKind::fixed;
}

WindowsVolume::~WindowsVolume() {
    stop_following();
}

std::int32_t WindowsVolume::current_percent() const {
    float scalar = 1.0f;
    if (!volume_ || FAILED(volume_->GetMasterVolumeLevelScalar(&scalar))) scalar = 1.0f;
    return std::int32_t(std::lround(scalar * 100));
}

bool WindowsVolume::muted() const {
    BOOL muted = FALSE;
    if (!volume_ || FAILED(volume_->GetMute(&muted))) return false;
    return muted != FALSE;
}

double WindowsVolume::gain() const {
    if (!volume_) return 1.0;
    BOOL muted = FALSE;
    if (SUCCEEDED(volume_->GetMute(&muted)) && muted) return 0.0;
    float level_db = 0;
    if (SUCCEEDED(volume_->GetMasterVolumeLevel(&level_db)))
        return std::min(std::pow(10.0, level_db / 20.0), 1.0);
    return this->muted() ? 0.0 : 1.0;
}

void WindowsVolume::note_log_line(const std::string& line) {
    guard_.note_log_line(line);
}

void WindowsVolume::apply_request(Endpoint& endpoint, WasapiSink* sink, std::int32_t volume,
                                  bool mute) {
    if (!volume_) return;
    initialize_com_for_thread();
    if (guard_.holds_back(endpoint, program_name, volume, mute, current_percent(), muted())) return;
    volume_->SetMasterVolumeLevelScalar(float(std::clamp(volume, 0, 100)) / 100, nullptr);
    volume_->SetMute(mute ? TRUE : FALSE, nullptr);
    if (kind_ == VolumeKind::software && sink) sink->store_gain(gain());
}

void WindowsVolume::start_following(Endpoint& endpoint, WasapiSink* sink) {
    if (!volume_ || follower_.joinable()) return;
    follower_ = start_thread("volume follow", [this, &endpoint, sink] { follow(endpoint, sink); });
}

void WindowsVolume::stop_following() {
    {
        std::lock_guard lock(stop_mutex_);
        stop_ = true;
    }
    stop_cond_.notify_all();
    if (follower_.joinable()) follower_.join();
}

HRESULT WindowsVolume::Notifications::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IAudioEndpointVolumeCallback) {
        *object = static_cast<IAudioEndpointVolumeCallback*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT WindowsVolume::Notifications::OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA) {
    {
        std::lock_guard lock(owner_.stop_mutex_);
        owner_.changed_ = true;
    }
    owner_.stop_cond_.notify_all();
    return S_OK;
}

bool WindowsVolume::wait_for_change() {
    std::unique_lock lock(stop_mutex_);
    stop_cond_.wait(lock, [this] { return stop_ || changed_; });
    changed_ = false;
    return !stop_;
}

// Asleep until Windows says the volume changed: no polling.
void WindowsVolume::follow(Endpoint& endpoint, WasapiSink* sink) {
    initialize_com_for_thread();
    std::int32_t last = current_percent();
    if (FAILED(volume_->RegisterControlChangeNotify(&notifications_))) return;
    while (wait_for_change()) {
        const std::int32_t now = current_percent();
        if (kind_ == VolumeKind::software && sink) sink->store_gain(gain());
        const auto state = endpoint.volume_state();
        if (now != last && !state.muted && std::abs(now - state.volume) >= 2)
            endpoint.report_volume(now, false);
        last = now;
    }
    volume_->UnregisterControlChangeNotify(&notifications_);
}

}  // namespace ondelle::wasapi

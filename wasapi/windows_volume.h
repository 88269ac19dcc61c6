// Ties the endpoint's volume to the Windows endpoint volume: which kind of volume the device
// has, the hooks the core calls, and the thread that follows changes made in Windows.
#pragma once

#include <windows.h>

#include <endpointvolume.h>
#include <mmdeviceapi.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "win/com_ptr.h"
#include "win/volume_guard.h"

namespace ondelle {
class Endpoint;
}  // namespace ondelle

namespace ondelle::wasapi {
class WasapiSink;

enum class VolumeKind { hardware, mixer, software, fixed };

const char* volume_kind_text(VolumeKind kind);

class WindowsVolume {
  public:
    // Activates the device's endpoint volume and decides the kind.
    WindowsVolume(IMMDevice* device, bool mix, bool follow_system);
    ~WindowsVolume();  // stops following
    WindowsVolume(const WindowsVolume&) = delete;
    WindowsVolume& operator=(const WindowsVolume&) = delete;

    VolumeKind kind() const { return kind_; }
    // The Windows volume in percent (100 when it cannot be read).
    std::int32_t current_percent() const;
    bool muted() const;
    // The linear gain the software volume applies: silence when muted, else the level in
    // decibels as a factor, never above 1.
    double gain() const;

    // The log hook's part: remembers when a sender last connected.
    void note_log_line(const std::string& line);
    // The volume hook: applies a request, except a raise from a sender that just connected.
    void apply_request(Endpoint& endpoint, WasapiSink* sink, std::int32_t volume, bool mute);

    void start_following(Endpoint& endpoint, WasapiSink* sink);
    void stop_following();

  private:
    // Told by Windows, on a thread of its own, of every change of the endpoint volume; it
    // only wakes the follower. Lives as long as its WindowsVolume, whatever its count says.
    class Notifications final : public IAudioEndpointVolumeCallback {
      public:
        explicit Notifications(WindowsVolume& owner) : owner_(owner) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
        ULONG STDMETHODCALLTYPE AddRef() override { return ++count_; }
        ULONG STDMETHODCALLTYPE Release() override { return --count_; }
        HRESULT STDMETHODCALLTYPE OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA data) override;

      private:
        WindowsVolume& owner_;
        std::atomic<ULONG> count_{1};
    };

    void follow(Endpoint& endpoint, WasapiSink* sink);
    // Waits for a change of the volume or a stop; false once stopped.
    bool wait_for_change();

    ComPtr<IAudioEndpointVolume> volume_;
    VolumeKind kind_ = VolumeKind::fixed;
    NewSenderVolumeGuard guard_;
    Notifications notifications_{*this};
    std::mutex stop_mutex_;
    std::condition_variable stop_cond_;
    bool stop_ = false;
    bool changed_ = false;  // under stop_mutex_
    std::thread follower_;
};

}  // namespace ondelle::wasapi

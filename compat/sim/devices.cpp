// The simulated MMDevice API: the enumerator, its device collection, each device with its
// friendly name, and the endpoint volume that a device shares among its users.
#include <endpointvolume.h>
#include <functiondiscoverykeys_devpkey.h>
#include <mmdeviceapi.h>

#include <algorithm>
#include <cmath>

#include "audio_client.h"
#include "com_object.h"
#include "simulation.h"
#include "support/text.h"

namespace compat {
namespace {

wchar_t* copy_to_task_memory(const std::wstring& text) {
    auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
    if (copy) std::copy(text.c_str(), text.c_str() + text.size() + 1, copy);
    return copy;
}

class SimPropertyStore final : public ComObject<IPropertyStore> {
  public:
    explicit SimPropertyStore(std::string name) : name_(std::move(name)) {}
    HRESULT GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override {
        if (!value) return E_POINTER;
        PropVariantInit(value);
        if (!(key.fmtid == PKEY_Device_FriendlyName.fmtid) ||
            key.pid != PKEY_Device_FriendlyName.pid)
            return S_OK;  // an unknown property reads as empty
        value->pwszVal = copy_to_task_memory(ondelle::to_wide(name_));
        if (!value->pwszVal) return E_OUTOFMEMORY;
        value->vt = VT_LPWSTR;
        return S_OK;
    }

  private:
    const std::string name_;
};

class SimEndpointVolume final : public ComObject<IAudioEndpointVolume> {
  public:
    explicit SimEndpointVolume(std::shared_ptr<DeviceState> device) : device_(std::move(device)) {}
    HRESULT SetMasterVolumeLevelScalar(float level, LPCGUID) override {
        if (level < 0 || level > 1) return E_INVALIDARG;
        {
            std::lock_guard lock(device_->mutex);
            device_->volume = level;
        }
        device_->volume_changed();
        return S_OK;
    }
    HRESULT GetMasterVolumeLevel(float* level_db) override {
        if (!level_db) return E_POINTER;
        std::lock_guard lock(device_->mutex);
        device_->apply_volume_changes();
        // A plain 20·log10 taper down to the device's floor of −96 dB.
        *level_db =
            device_->volume > 0 ? std::max(-96.0f, 20.0f * std::log10(device_->volume)) : -96.0f;
        return S_OK;
    }
    HRESULT GetMasterVolumeLevelScalar(float* level) override {
        if (!level) return E_POINTER;
        std::lock_guard lock(device_->mutex);
        device_->apply_volume_changes();
        *level = device_->volume;
        return S_OK;
    }
    HRESULT SetMute(BOOL mute, LPCGUID) override {
        {
            std::lock_guard lock(device_->mutex);
            device_->muted = mute != FALSE;
        }
        device_->volume_changed();
        return S_OK;
    }
    HRESULT RegisterControlChangeNotify(IAudioEndpointVolumeCallback* notify) override {
        if (!notify) return E_POINTER;
        notify->AddRef();
        device_->register_callback(notify);
        return S_OK;
    }
    HRESULT UnregisterControlChangeNotify(IAudioEndpointVolumeCallback* notify) override {
        if (!notify) return E_POINTER;
        device_->unregister_callback(notify);
        notify->Release();
        return S_OK;
    }
    HRESULT GetMute(BOOL* mute) override {
        if (!mute) return E_POINTER;
        std::lock_guard lock(device_->mutex);
        device_->apply_volume_changes();
        *mute = device_->muted ? TRUE : FALSE;
        return S_OK;
    }
    HRESULT QueryHardwareSupport(DWORD* mask) override {
        if (!mask) return E_POINTER;
        *mask = device_->config.hardware_volume
                    ? ENDPOINT_HARDWARE_SUPPORT_VOLUME | ENDPOINT_HARDWARE_SUPPORT_MUTE
                    : 0;
        return S_OK;
    }

  private:
    const std::shared_ptr<DeviceState> device_;
};

class SimDevice final : public ComObject<IMMDevice> {
  public:
    explicit SimDevice(std::shared_ptr<DeviceState> device)
        : device_(std::move(device)), generation_(device_->generation()) {}
    HRESULT Activate(REFIID iid, DWORD, PROPVARIANT*, void** interface) override {
        if (!interface) return E_POINTER;
        *interface = nullptr;
        if (!device_->present(generation_)) return AUDCLNT_E_DEVICE_INVALIDATED;
        if (device_->config.activate_error != S_OK) return device_->config.activate_error;
        if (iid == IID_IAudioClient) return hand_out(create<SimAudioClient>(device_), interface);
        if (iid == IID_IAudioEndpointVolume && device_->config.endpoint_volume)
            return hand_out(create<SimEndpointVolume>(device_), interface);
        return E_NOINTERFACE;
    }
    HRESULT OpenPropertyStore(DWORD, IPropertyStore** properties) override {
        return hand_out(create<SimPropertyStore>(device_->config.name),
                        reinterpret_cast<void**>(properties));
    }
    HRESULT GetId(LPWSTR* id) override {
        if (!id) return E_POINTER;
        *id = copy_to_task_memory(ondelle::to_wide(device_->id));
        return *id ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT GetState(DWORD* state) override {
        if (!state) return E_POINTER;
        if (!device_->present(generation_))
            *state = DEVICE_STATE_UNPLUGGED;
        else
            *state = device_->config.active ? DEVICE_STATE_ACTIVE : DEVICE_STATE_DISABLED;
        return S_OK;
    }

  private:
    const std::shared_ptr<DeviceState> device_;
    const int generation_;  // a device unplugged and back is another object
};

class SimCollection final : public ComObject<IMMDeviceCollection> {
  public:
    explicit SimCollection(std::vector<std::shared_ptr<DeviceState>> devices)
        : devices_(std::move(devices)) {}
    HRESULT GetCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = UINT(devices_.size());
        return S_OK;
    }
    HRESULT Item(UINT index, IMMDevice** device) override {
        if (!device) return E_POINTER;
        *device = nullptr;
        if (index >= devices_.size()) return E_INVALIDARG;
        return hand_out(create<SimDevice>(devices_[index]), reinterpret_cast<void**>(device));
    }

  private:
    const std::vector<std::shared_ptr<DeviceState>> devices_;
};

class SimEnumerator final : public ComObject<IMMDeviceEnumerator> {
  public:
    explicit SimEnumerator(std::shared_ptr<const Simulation> simulation)
        : simulation_(std::move(simulation)) {}
    HRESULT EnumAudioEndpoints(EDataFlow flow, DWORD state_mask,
                               IMMDeviceCollection** devices) override {
        if (!devices) return E_POINTER;
        std::vector<std::shared_ptr<DeviceState>> chosen;
        if (flow != eCapture) {
            for (const auto& device : simulation_->devices)
                if (!(state_mask == DEVICE_STATE_ACTIVE &&
                      (!device->config.active || device->generation() < 0)))
                    chosen.push_back(device);
        }
        return hand_out(create<SimCollection>(std::move(chosen)),
                        reinterpret_cast<void**>(devices));
    }
    HRESULT GetDefaultAudioEndpoint(EDataFlow flow, ERole, IMMDevice** endpoint) override {
        if (!endpoint) return E_POINTER;
        *endpoint = nullptr;
        if (flow == eCapture) return E_NOTFOUND;
        for (const auto& device : simulation_->devices)
            if (device->config.is_default && device->config.active && device->generation() >= 0)
                return hand_out(create<SimDevice>(device), reinterpret_cast<void**>(endpoint));
        return E_NOTFOUND;
    }
    HRESULT GetDevice(LPCWSTR id, IMMDevice** endpoint) override {
        if (!endpoint || !id) return E_POINTER;
        *endpoint = nullptr;
        for (const auto& device : simulation_->devices)
            if (ondelle::to_wide(device->id) == id)
                return hand_out(create<SimDevice>(device), reinterpret_cast<void**>(endpoint));
        return E_NOTFOUND;
    }

  private:
    const std::shared_ptr<const Simulation> simulation_;
};

}  // namespace

HRESULT create_enumerator(void** object) {
    auto simulation = current_simulation();
    if (!simulation->config.enumerator) return REGDB_E_CLASSNOTREG;
    return hand_out(ComObject<IMMDeviceEnumerator>::create<SimEnumerator>(std::move(simulation)),
                    object);
}

}  // namespace compat

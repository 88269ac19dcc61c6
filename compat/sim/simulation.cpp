// The one simulated machine of a process, made from its configuration on first use.
#include "simulation.h"

#include <pthread.h>

#include <algorithm>
#include <cstdlib>

namespace compat {

DeviceState::DeviceState(DeviceConfig device_config, int index)
    : config(std::move(device_config)),
      id("{0.0.0.00000000}.{5e1a0000-0000-0000-0000-" + std::to_string(100000000000 + index) + "}"),
      capture_file(config.capture),
      volume(static_cast<float>(std::clamp(config.volume, 0.0, 1.0))),
      muted(config.muted),
      initialize_errors_left(config.initialize_error_count) {}

DeviceState::~DeviceState() {
    {
        std::lock_guard lock(mutex);
        quitting_ = true;
    }
    notify_wake_.notify_all();
    if (notifier_.joinable()) notifier_.join();
}

void DeviceState::register_callback(IAudioEndpointVolumeCallback* callback) {
    std::lock_guard lock(mutex);
    callbacks_.push_back(callback);
    if (!notifier_.joinable())
        notifier_ = std::thread([this] {
            pthread_setname_np(pthread_self(), "sim volume");
            notify_main();
        });
}

void DeviceState::unregister_callback(IAudioEndpointVolumeCallback* callback) {
    std::lock_guard delivery(delivering_);
    std::lock_guard lock(mutex);
    callbacks_.erase(std::remove(callbacks_.begin(), callbacks_.end(), callback), callbacks_.end());
}

void DeviceState::volume_changed() {
    {
        std::lock_guard lock(mutex);
        notify_due_ = true;
    }
    notify_wake_.notify_all();
}

// Sleeps until the next configured change or a change through the endpoint volume, then
// tells every callback, with the device's lock let go.
void DeviceState::notify_main() {
    std::unique_lock lock(mutex);
    while (!quitting_) {
        const auto& changes = config.volume_changes;
        if (volume_changes_done < changes.size()) {
            notify_wake_.wait_until(
                lock, created + std::chrono::milliseconds(changes[volume_changes_done].after_ms),
                [&] { return quitting_ || notify_due_; });
        } else {
            notify_wake_.wait(lock, [&] { return quitting_ || notify_due_; });
        }
        if (quitting_) break;
        const std::size_t done_before = volume_changes_done;
        apply_volume_changes();
        if (!std::exchange(notify_due_, false) && volume_changes_done == done_before) continue;
        lock.unlock();
        tell_callbacks();
        lock.lock();
    }
}

void DeviceState::tell_callbacks() {
    std::lock_guard delivery(delivering_);
    std::vector<IAudioEndpointVolumeCallback*> callbacks;
    AUDIO_VOLUME_NOTIFICATION_DATA data{};
    {
        std::lock_guard lock(mutex);
        callbacks = callbacks_;
        data.bMuted = muted ? TRUE : FALSE;
        data.fMasterVolume = volume;
        data.nChannels = 1;
        data.afChannelVolumes[0] = volume;
    }
    for (IAudioEndpointVolumeCallback* callback : callbacks)
        callback->OnNotify(&data);
}

bool DeviceState::takes(int rate, int container_bits, int valid_bits) const {
    const auto& rates = config.rates;
    const auto& layouts = config.layouts;
    return std::find(rates.begin(), rates.end(), rate) != rates.end() &&
           std::find(layouts.begin(), layouts.end(), std::pair{container_bits, valid_bits}) !=
               layouts.end();
}

void DeviceState::capture(const BYTE* data, std::size_t size) {
    capture_file.append(data, size);
}

void DeviceState::apply_volume_changes() {
    const auto elapsed = std::chrono::steady_clock::now() - created;
    const auto& changes = config.volume_changes;
    while (volume_changes_done < changes.size() &&
           elapsed >= std::chrono::milliseconds(changes[volume_changes_done].after_ms)) {
        const auto& change = changes[volume_changes_done++];
        volume = static_cast<float>(std::clamp(change.volume, 0.0, 1.0));
        muted = change.muted;
    }
}

void DeviceState::remove() {
    std::lock_guard lock(mutex);
    if (removal_done_) return;
    removal_done_ = removed_ = true;
    removed_at_ = std::chrono::steady_clock::now();
}

int DeviceState::generation() {
    std::lock_guard lock(mutex);
    // Not plugged in yet: as absent as one unplugged.
    if (config.appears_after_ms >= 0 &&
        std::chrono::steady_clock::now() <
            created + std::chrono::milliseconds(config.appears_after_ms))
        return -1;
    if (removed_ && config.returns_after_ms >= 0 &&
        std::chrono::steady_clock::now() >=
            removed_at_ + std::chrono::milliseconds(config.returns_after_ms)) {
        removed_ = false;
        ++generation_;
    }
    return removed_ ? -1 : generation_;
}

bool DeviceState::present(int generation_of_object) {
    return generation_of_object >= 0 && generation() == generation_of_object;
}

std::shared_ptr<const Simulation> current_simulation() {
    static std::mutex mutex;
    static std::string loaded_path;
    static std::shared_ptr<const Simulation> current;
    std::lock_guard lock(mutex);
    const char* variable = std::getenv("ONDELLE_SIM");
    const std::string path = variable ? variable : "";
    if (current && path == loaded_path) return current;
    auto simulation = std::make_shared<Simulation>();
    if (!path.empty()) {
        std::string error;
        if (!load_simulation_config(path, simulation->config, error)) {
            std::fprintf(stderr, "simulation: ONDELLE_SIM: %s\n", error.c_str());
            std::exit(3);
        }
    }
    for (const auto& device : simulation->config.render_devices)
        simulation->devices.push_back(
            std::make_shared<DeviceState>(device, int(simulation->devices.size())));
    for (const auto& driver : simulation->config.asio_drivers)
        simulation->asio_drivers.push_back(std::make_shared<AsioDriverState>(driver));
    loaded_path = path;
    current = std::move(simulation);
    return current;
}

}  // namespace compat

// The simulated machine's state that outlives any one COM object: each render device's
// volume and its callbacks, exclusive use, removal, pending injected failures and capture
// file; each ASIO driver's files and removal; and the machine that ONDELLE_SIM describes.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <endpointvolume.h>

#include "appending_file.h"
#include "config.h"

namespace compat {

struct DeviceState {
    DeviceState(DeviceConfig config, int index);
    ~DeviceState();
    DeviceState(const DeviceState&) = delete;
    DeviceState& operator=(const DeviceState&) = delete;

    bool takes(int rate, int container_bits, int valid_bits) const;
    // Appends what the device consumed to the capture file, if one is configured.
    void capture(const BYTE* data, std::size_t size);
    // Applies the configured volume changes whose time has come; under mutex.
    void apply_volume_changes();

    // The endpoint volume's callbacks, told of every change, made here or by the program,
    // on a thread of the device's own as Windows tells them on one of its own.
    void register_callback(IAudioEndpointVolumeCallback* callback);
    // Once it returns, the callback is not called again.
    void unregister_callback(IAudioEndpointVolumeCallback* callback);
    // A change made through the endpoint volume: the callbacks hear of it.
    void volume_changed();

    // Unplugs the device, once per run. It comes back after returns_after_ms, if given, as a
    // new device of the same identifier: what was handed out before stays dead.
    void remove();
    // The device's life now: objects made in another one are dead. Moves it on when the
    // device is back.
    int generation();
    bool present(int generation_of_object);

    const DeviceConfig config;
    const std::string id;

    AppendingFile capture_file;

    std::mutex mutex;  // guards everything below
    float volume;
    bool muted;
    bool held_exclusively = false;
    bool misaligned_done = false;
    int initialize_errors_left;
    std::size_t volume_changes_done = 0;
    const std::chrono::steady_clock::time_point created = std::chrono::steady_clock::now();

  private:
    void notify_main();
    void tell_callbacks();

    // Removal, under mutex.
    int generation_ = 0;
    bool removed_ = false;
    bool removal_done_ = false;
    std::chrono::steady_clock::time_point removed_at_;

    std::vector<IAudioEndpointVolumeCallback*> callbacks_;  // under mutex
    bool notify_due_ = false;                               // under mutex
    bool quitting_ = false;                                 // under mutex
    std::condition_variable notify_wake_;
    std::mutex delivering_;  // held while callbacks are called
    std::thread notifier_;
};

// What outlives any one object of a simulated ASIO driver: its files and whether it has
// asked for its one reset of the run.
struct AsioDriverState {
    explicit AsioDriverState(AsioDriverConfig config);
    ~AsioDriverState();
    AsioDriverState(const AsioDriverState&) = delete;
    AsioDriverState& operator=(const AsioDriverState&) = delete;

    // The class identifier the registry names, if it has a "CLSID" value that parses.
    bool clsid(CLSID& out) const;
    // The "CLSID" value's text, empty when there is none.
    std::string clsid_text() const;
    // Appends one line to the log file, if one is configured.
    void log(const std::string& line);
    // Appends bytes to the capture file, if one is configured.
    void capture(const BYTE* data, std::size_t size);

    // Unplugs it, once per run: from now on it calls back no more and every call fails,
    // until returns_after_ms (if given) have passed.
    void remove();
    bool removed() const;
    // Registered yet: a driver with appears_after_ms is installed that long after the start.
    bool installed() const;

    const AsioDriverConfig config;
    std::atomic<bool> reset_sent{false};

  private:
    AppendingFile log_file_;
    AppendingFile capture_file_;
    std::atomic<std::int64_t> removed_at_ms_{-1};  // of the steady clock; -1: never
    const std::int64_t created_ms_;
};

struct Simulation {
    SimulationConfig config;
    std::vector<std::shared_ptr<DeviceState>> devices;
    std::vector<std::shared_ptr<AsioDriverState>> asio_drivers;
};

// The machine described by ONDELLE_SIM now; read again whenever that variable names another
// file. Devices already handed out keep their state.
std::shared_ptr<const Simulation> current_simulation();

}  // namespace compat

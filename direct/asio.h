// One ASIO driver, driven from an apartment thread of its own (its window is the one the
// driver is given; its 500 ms timer handles resets, recovery and unloading when idle). Every
// driver call runs there (Asio::call carries work over and its result back); the driver calls
// back from its own thread into render(), which shares with the sink only the ring and the
// atomic flags and counters below.
#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

#include "driver_recovery.h"
#include "iasio.h"
#include "support/byte_ring.h"
#include "win/apartment_thread.h"
#include "win/com_ptr.h"

namespace ondelle::direct {

// A driver registered on the machine.
struct DriverEntry {
    std::string name;  // the registry key's name
    CLSID clsid{};
};

// What a driver can play.
struct Caps {
    std::vector<std::int32_t> rates;      // PCM, in probe order
    std::vector<std::int32_t> dsd_rates;  // one-bit samples per second, in probe order
    std::int32_t sample_type = -1;        // output channel 0 in PCM mode; -1: not said
    std::int32_t dsd_sample_type = -1;    // the same in DSD mode; -1: not said or no DSD
    std::int32_t outputs = 0;
};

class Asio {
  public:
    // data_event is lent: set when a buffer switch freed the room a writer waits for, or the
    // sink closes.
    // output_ready_allowed false: never call the driver's outputReady.
    Asio(DriverEntry entry, HANDLE data_event, bool output_ready_allowed);
    ~Asio();  // stops the thread if it still runs
    Asio(const Asio&) = delete;
    Asio& operator=(const Asio&) = delete;

    const std::string& name() const { return name_; }

    // Starts the driver thread; returns once its window and message queue exist.
    void start_thread();
    // Ends the driver thread, which unloads the driver, and joins it.
    void stop_thread();

    // Runs work on the driver thread and returns its result; at once when called there. An
    // exception thrown by work is thrown here.
    template <class Work>
    std::invoke_result_t<Work&> call(Work work) {
        return apartment_.call(std::move(work));
    }

    // The driver operations; on the driver thread only. Failures are false with a reason.
    bool load(std::string& error);
    bool open(bool dsd, double rate, std::string& error);  // rate: one-bit rate for DSD
    bool start(std::string& error);
    void close();
    void unload();
    Caps query_caps(std::string& error);
    // From any thread: what the driver plays, asked on the driver thread; the driver is
    // unloaded again after, as a driver is loaded only while it is used.
    Caps probe(std::string& error);
    bool show_panel(std::string& error);

    // The buffer switch, on the driver's callback thread: hands half buffer index over.
    void render(std::int32_t index);

    // On the driver thread: a driver object is there; it was started and should be playing.
    bool loaded() const { return bool(driver_); }
    bool playing() const { return driver_ && started_ && armed && !paused; }
    // Loads the driver, to be unloaded again if no stream follows within the idle time.
    bool load_until_idle(std::string& error);

    // Recovery from a driver that went away.
    DriverRecovery recovery;

    // Shared between the sink (player thread), the buffer switch and the driver thread.
    SharedByteRing
        ring;  // the sink writes, the buffer switch reads; reset only while it does not run
    std::atomic<bool> paused{false};
    // Bytes of room a writer waiting on data_event needs; 0 when none waits. The buffer
    // switch signals once that much is free, not at every half buffer.
    std::atomic<std::uint64_t> writer_wants{0};
    std::atomic<bool> discard_request{false};
    std::atomic<bool> armed{false};
    // Nothing more follows what the ring holds: running dry is the end of the stream (or a
    // flush), not an underrun.
    std::atomic<bool> no_more_audio{false};
    std::atomic<std::uint64_t> last_callback{0};
    std::atomic<std::uint64_t> underrun_count{0};
    std::atomic<std::uint64_t> callback_count{0};
    std::array<std::atomic<std::int32_t>, 8> history{};
    std::atomic<double> gain{1.0};
    std::atomic<bool> reset_request{false};
    std::atomic<std::int32_t> frame_bytes{8};
    const HANDLE data_event;
    std::uint32_t dither_state = 12345;

    // Set on the driver thread by open; read by the sink and the buffer switch.
    std::atomic<bool> buffers_created{false};
    std::atomic<bool> dsd_mode{false};
    std::atomic<std::int32_t> buffer_size{0};
    std::atomic<std::int32_t> output_latency{0};
    std::atomic<std::int32_t> sample_type{-1};

  private:
    void on_timer();
    void handle_reset();
    void unload_if_idle();
    void tear_down_buffers();
    void fill_with_silence();

    const CLSID clsid_;
    const std::string name_;
    const bool output_ready_allowed_;

    // Driver-thread state.
    ComPtr<asio::IASIO> driver_;
    bool started_ = false;
    bool use_output_ready_ = false;
    double rate_ = 0.0;
    std::array<asio::ASIOBufferInfo, 2> buffer_infos_{};
    asio::ASIOCallbacks callbacks_{};
    std::uint64_t idle_since_ = 0;

    // Last, so that its thread has ended before the state it reaches goes.
    ApartmentThread apartment_;
};

// The Asio in use, through which the driver's context-free callbacks reach it.
extern std::atomic<Asio*> current_asio;

// The callbacks handed to every driver.
asio::ASIOCallbacks asio_callbacks();

}  // namespace ondelle::direct

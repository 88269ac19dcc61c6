// DriverRecovery: the stall watch, the give-up and the retries of a lost driver.
#include "driver_recovery.h"

#include <windows.h>

#include "asio.h"
#include "program_name.h"
#include "win/device_gone.h"
#include "win/log_line.h"

namespace ondelle::direct {
namespace {

constexpr std::uint64_t retry_every_ms = 3000;

}  // namespace

void DriverRecovery::on_timer(Asio& asio) {
    const std::uint64_t now = GetTickCount64();
    if (asio.playing() && now - asio.last_callback.load() >= driver_stall_limit_ms) give_up(asio);
    if (!lost || asio.loaded() || now - last_retry_ < retry_every_ms) return;
    last_retry_ = now;
    if (wanted && !wanted()) return;
    std::string error;
    asio.load_until_idle(error);
}

void DriverRecovery::give_up(Asio& asio) {
    asio.unload();
    if (lost.exchange(true)) return;
    log_line(program_name, "the driver is gone; it is looked for again while a sender plays");
    last_retry_ = GetTickCount64();
    if (on_lost) on_lost();
}

void DriverRecovery::loaded() {
    if (!lost.exchange(false)) return;
    // A fresh driver object of one that had gone: what it plays may have changed with it.
    caps_changed = true;
    log_line(program_name, "the driver is back");
}

std::string DriverRecovery::load_failure(std::string reason) const {
    return lost ? std::string(output_device_gone) : std::move(reason);
}

}  // namespace ondelle::direct

// The cubic taper and the volume hook.
#include "software_volume.h"

#include <algorithm>

#include "asio.h"
#include "program_name.h"

namespace ondelle::direct {

double volume_gain(std::int32_t level, bool muted) {
    if (muted || level <= 0) return 0.0;
    const double x = std::min(level, 100) / 100.0;
    return x * x * x;
}

SoftwareVolume::SoftwareVolume(Asio& asio) : asio_(asio) {
    asio_.gain.exchange(volume_gain(initial_level, false));
}

void SoftwareVolume::apply(Endpoint& endpoint, std::int32_t requested, bool mute) {
    if (guard_.holds_back(endpoint, program_name, requested, mute, level_.load(), muted_.load()))
        return;
    level_.exchange(requested);
    muted_.exchange(mute);
    asio_.gain.exchange(volume_gain(requested, mute));
}

}  // namespace ondelle::direct

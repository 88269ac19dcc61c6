// The player thread.
#include "endpoint.h"

namespace ondelle {

void Endpoint::player_main() {
    std::unique_lock lock(mutex);
    cond.wait(lock, [this] { return stopping_.load(); });
}

}  // namespace ondelle

// The status thread.
#include "endpoint.h"

namespace ondelle {

void Endpoint::status_main() {
    std::unique_lock lock(mutex);
    cond.wait(lock, [this] { return stopping_.load(); });
}

}  // namespace ondelle

// The full core of ondelle-wasapi: FLAC by the endpoint's FLAC mode, local files when the
// program can open them, "library_private", and an output closed when idle.
#include "engine/core_variant.h"

#include "endpoint.h"

namespace ondelle {

const std::uint64_t queue_entry_cost = 344;
const char* const core_variant_name = "full";
const bool closes_idle_output = true;

bool local_files_offered(const Endpoint& endpoint) {
    return endpoint.local_files && static_cast<bool>(endpoint.open_local);
}

bool flac_allowed(const Endpoint& endpoint, const Conn& conn) {
    if (endpoint.flac_mode == 0) return false;
    if (endpoint.flac_mode == 1 && !is_away_sender(endpoint.settings, conn)) return false;
    return endpoint.flac_refused.empty() || endpoint.flac_refused != conn.sender_id;
}

void add_variant_capabilities(const Endpoint& endpoint, Json& capabilities) {
    capabilities.set("library_private", Json(static_cast<bool>(endpoint.on_library_private)));
}

bool answer_variant_library_request(Endpoint& endpoint, const std::string& type,
                                    const Json& message, Json& reply) {
    if (type != "library_private") return false;
    const Json answer = endpoint.on_library_private ? endpoint.on_library_private(message) : Json();
    if (answer.is_null()) {
        reply.set("ok", Json(false));
        reply.set("error", Json("not answered"));
    } else {
        reply.set("ok", Json(true));
    }
    if (answer.is_object()) {
        for (const auto& [key, value] : answer.members)
            reply.set(key, value);
    }
    return true;
}

void Endpoint::set_flac_mode(std::int32_t mode) {
    std::lock_guard lock(mutex);
    flac_mode = mode;
}

}  // namespace ondelle

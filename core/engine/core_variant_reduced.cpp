// The reduced core of Ondelle-Direct: plain PCM and DSD only, and an output that stays open
// (its driver keeps running between streams).
#include "engine/core_variant.h"

namespace ondelle {

// Its Track is smaller.
const std::uint64_t queue_entry_cost = 304;
const char* const core_variant_name = "reduced";
const bool closes_idle_output = false;

bool local_files_offered(const Endpoint&) {
    return false;
}

bool flac_allowed(const Endpoint&, const Conn&) {
    return false;
}

void add_variant_capabilities(const Endpoint&, Json&) {}

bool answer_variant_library_request(Endpoint&, const std::string&, const Json&, Json&) {
    return false;
}

}  // namespace ondelle

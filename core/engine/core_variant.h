// What the two builds of the core do differently, outside stream decoding. The full build
// (ondelle-wasapi) offers local files, answers "library_private" and closes an idle output;
// the reduced build (Ondelle-Direct) does none of this. CMake compiles one of
// core_variant_full.cpp and core_variant_reduced.cpp.
#pragma once

#include <cstdint>
#include <string>

#include "conn.h"
#include "json.h"

namespace ondelle {

class Endpoint;

// "full" or "reduced".
extern const char* const core_variant_name;

// Bytes each play-queue entry counts besides its data and track texts.
extern const std::uint64_t queue_entry_cost;

// Whether the player closes its output after three seconds of idle.
extern const bool closes_idle_output;

// Under the player lock: does the welcome offer local-file streams?
bool local_files_offered(const Endpoint& endpoint);

// Under the player lock: may this sender connection send FLAC?
bool flac_allowed(const Endpoint& endpoint, const Conn& conn);

// Under the player lock: the capability members only this build has.
void add_variant_capabilities(const Endpoint& endpoint, Json& capabilities);

// The library requests only this build answers, into reply; false when type is none of them.
// Called without the player lock.
bool answer_variant_library_request(Endpoint& endpoint, const std::string& type,
                                    const Json& message, Json& reply);

}  // namespace ondelle

// What peers learn about the endpoint: the welcome that answers every hello, the
// capabilities sent whenever a sender or remote comes or goes, and command results.
#pragma once

#include <cstdint>

#include "conn.h"
#include "json.h"

namespace ondelle {

class Endpoint;

// Under the player lock. burst: the peer said it can burst; away: the away profile applies.
Json build_welcome(const Endpoint& endpoint, std::int32_t proto, bool burst, bool flac_allowed,
                   bool away);

// Under the player lock. No "t" member.
Json build_capabilities(const Endpoint& endpoint);

// The answer to a "command" from a remote or a control peer; called without the lock.
Json build_result(Endpoint& endpoint, const Json& command, bool from_control);

}  // namespace ondelle

// The body of a session thread: one connection from its first frame to its end.
#pragma once

#include <memory>

#include "conn.h"

namespace ondelle {

class Endpoint;

void run_session(Endpoint& endpoint, const std::shared_ptr<Conn>& conn);

}  // namespace ondelle

// What every role's session shares: the frame loop with ping answered in place, and the
// notice a displaced peer receives.
#pragma once

#include <functional>
#include <string>

#include "conn.h"

namespace ondelle {

class Endpoint;

// The type of a control message: its "t" read as text, empty when absent.
std::string message_type(const Json& message);

// Receives frames until a receive fails, the endpoint stops or handle returns false. A
// Control frame of type "ping" is answered with a pong and not handed on.
void serve_frames(Endpoint& endpoint, Conn& conn, Message& message,
                  const std::function<bool(Message&)>& handle);

// {"t":"stopped","reason":"taken","by":name} ("by" left out when name is empty), then the
// connection is shut down so that its session ends at its next receive.
void send_stopped_notice(Conn& displaced, const std::string& by_name);

}  // namespace ondelle

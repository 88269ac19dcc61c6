// The sessions of each role, entered after the hello has been read and stored.
#pragma once

#include <memory>
#include <string>

#include "conn.h"

namespace ondelle {

class Endpoint;

void sender_session(Endpoint& endpoint, const std::shared_ptr<Conn>& conn, const std::string& name);
void remote_session(Endpoint& endpoint, const std::shared_ptr<Conn>& conn, const std::string& name);
void control_session(Endpoint& endpoint, const std::shared_ptr<Conn>& conn,
                     const std::string& name);
void library_session(Endpoint& endpoint, const std::shared_ptr<Conn>& conn,
                     const std::string& name);

// Answers a library request on the connection that asked; false when type is none of them.
// Called without the player lock; the hooks run on the calling session's thread.
bool library_request(Endpoint& endpoint, Conn& conn, const std::string& type, const Json& message);

}  // namespace ondelle

// The sender: takes over from the previous sender, then streams.
#include "endpoint.h"
#include "engine/capabilities.h"
#include "protocol/role_loop.h"
#include "protocol/roles.h"

namespace ondelle {

void sender_session(Endpoint& endpoint, const std::shared_ptr<Conn>& conn,
                    const std::string& name) {
    std::shared_ptr<Conn> previous;
    std::shared_ptr<Conn> displaced_remote;
    {
        std::lock_guard lock(endpoint.mutex);
        previous = std::exchange(endpoint.sender, conn);
        if (endpoint.remote && endpoint.remote->sender_id != conn->sender_id) {
            displaced_remote = endpoint.remote;
        }
        endpoint.sender_name = name;
        const bool away =
            endpoint.settings.away_buffer_ms >= 1 && is_away_sender(endpoint.settings, *conn);
        conn->send_json(
            build_welcome(endpoint, conn->proto, conn->burst, flac_allowed(endpoint, *conn), away));
    }
    if (previous && previous != conn) send_stopped_notice(*previous, name);
    if (displaced_remote) send_stopped_notice(*displaced_remote, name);
    endpoint.broadcast_capabilities();
    endpoint.log("sender: " + name);

    Message message;
    serve_frames(endpoint, *conn, message, [&](Message& m) {
        if (m.type != Control) return true;
        std::lock_guard lock(endpoint.mutex);
        return endpoint.sender == conn;
    });

    bool was_sender = false;
    {
        std::lock_guard lock(endpoint.mutex);
        if (endpoint.sender == conn) {
            endpoint.sender.reset();
            endpoint.sender_name.clear();
            was_sender = true;
        }
    }
    if (was_sender) endpoint.broadcast_capabilities();
    conn->close();
}

}  // namespace ondelle

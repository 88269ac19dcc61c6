// Remote and control peers: they send commands and follow the capabilities. A remote also
// displaces an older remote and a sender of another program.
#include <algorithm>

#include "endpoint.h"
#include "engine/capabilities.h"
#include "protocol/role_loop.h"
#include "protocol/roles.h"

namespace ondelle {
namespace {

void answer_commands(Endpoint& endpoint, Conn& conn, bool from_control) {
    Message message;
    serve_frames(endpoint, conn, message, [&](Message& m) {
        if (m.type == Control && message_type(m.json) == "command") {
            conn.send_json(build_result(endpoint, m.json, from_control));
        }
        return true;
    });
}

}  // namespace

void remote_session(Endpoint& endpoint, const std::shared_ptr<Conn>& conn,
                    const std::string& name) {
    std::shared_ptr<Conn> previous;
    std::shared_ptr<Conn> displaced_sender;
    {
        std::lock_guard lock(endpoint.mutex);
        previous = std::exchange(endpoint.remote, conn);
        if (endpoint.sender && endpoint.sender->sender_id != conn->sender_id) {
            displaced_sender = endpoint.sender;
        }
        conn->send_json(build_welcome(endpoint, conn->proto, conn->burst, false, false));
    }
    if (previous && previous != conn) send_stopped_notice(*previous, name);
    if (displaced_sender) send_stopped_notice(*displaced_sender, name);
    {
        std::lock_guard lock(endpoint.mutex);
        endpoint.remote_name = name;
    }
    endpoint.broadcast_capabilities();
    endpoint.log("remote: " + name);

    answer_commands(endpoint, *conn, false);

    {
        std::lock_guard lock(endpoint.mutex);
        if (endpoint.remote == conn) {
            endpoint.remote.reset();
            endpoint.remote_name.clear();
        }
    }
    endpoint.broadcast_capabilities();
}

void control_session(Endpoint& endpoint, const std::shared_ptr<Conn>& conn,
                     const std::string& name) {
    {
        std::lock_guard lock(endpoint.mutex);
        endpoint.controls.push_back(conn);
        conn->send_json(build_welcome(endpoint, conn->proto, conn->burst, false, false));
    }
    endpoint.log("control: " + name);

    answer_commands(endpoint, *conn, true);

    std::lock_guard lock(endpoint.mutex);
    auto& controls = endpoint.controls;
    controls.erase(std::remove(controls.begin(), controls.end(), conn), controls.end());
}

}  // namespace ondelle

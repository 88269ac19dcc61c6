// Library peers: at most eight, one per sender id; a replaced peer is shut down silently.
#include <algorithm>

#include "endpoint.h"
#include "engine/capabilities.h"
#include "protocol/role_loop.h"
#include "protocol/roles.h"

namespace ondelle {
namespace {

constexpr std::size_t max_library_peers = 8;

}  // namespace

void library_session(Endpoint& endpoint, const std::shared_ptr<Conn>& conn,
                     const std::string& name) {
    std::vector<std::shared_ptr<Conn>> replaced;
    {
        std::lock_guard lock(endpoint.mutex);
        auto& libraries = endpoint.libraries;
        const auto same_sender = std::stable_partition(
            libraries.begin(), libraries.end(),
            [&](const std::shared_ptr<Conn>& peer) { return peer->sender_id != conn->sender_id; });
        replaced.assign(same_sender, libraries.end());
        libraries.erase(same_sender, libraries.end());
        if (libraries.size() >= max_library_peers) {
            replaced.push_back(libraries.front());
            libraries.erase(libraries.begin());
        }
        libraries.push_back(conn);
        conn->send_json(build_welcome(endpoint, conn->proto, conn->burst, false, false));
    }
    for (const auto& peer : replaced)
        peer->shutdown();
    endpoint.log("library: " + name);

    Message message;
    serve_frames(endpoint, *conn, message, [&](Message& m) {
        if (m.type == Control) library_request(endpoint, *conn, message_type(m.json), m.json);
        return true;
    });

    std::lock_guard lock(endpoint.mutex);
    auto& libraries = endpoint.libraries;
    libraries.erase(std::remove(libraries.begin(), libraries.end(), conn), libraries.end());
}

}  // namespace ondelle

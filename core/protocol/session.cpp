// The hello: who the peer is, which protocol version to speak, and which role serves it.
#include "protocol/session.h"

#include <algorithm>

#include "endpoint.h"
#include "protocol/role_loop.h"
#include "protocol/roles.h"
#include "support/utf8.h"

namespace ondelle {
namespace {

constexpr std::int64_t lowest_proto = 1;
constexpr std::int64_t highest_proto = 2;

}  // namespace

void run_session(Endpoint& endpoint, const std::shared_ptr<Conn>& conn) {
    std::string name;
    {
        Message hello;
        if (!conn->receive(hello) || hello.type != Control || message_type(hello.json) != "hello") {
            conn->close();
            return;
        }
        const std::int64_t proto = hello.json.get("proto").as_int(0);
        if (proto < lowest_proto) {
            conn->send_json(make_error("proto", "this endpoint speaks Ondelle " +
                                                    std::to_string(lowest_proto) + " to " +
                                                    std::to_string(highest_proto)));
            conn->close();
            return;
        }
        const Json& sender = hello.json.get("sender");
        conn->proto = static_cast<std::int32_t>(std::min(proto, highest_proto));
        conn->role = hello.json.get("role").as_string("stream");
        conn->sender_id = sender.get("id").as_string("");
        conn->binary = hello.json.get("binary").as_bool(false);
        conn->burst = hello.json.get("burst").as_bool(false);
        // Names are shown to other peers: they go on as valid UTF-8 whatever was sent.
        name = valid_utf8(sender.get("name").as_string(""));
    }
    if (conn->proto >= 2 && conn->role == "remote") {
        remote_session(endpoint, conn, name);
    } else if (conn->proto >= 2 && conn->role == "control") {
        control_session(endpoint, conn, name);
    } else if (conn->role == "library") {
        library_session(endpoint, conn, name);
    } else {
        sender_session(endpoint, conn, name);
    }
    if (conn->send_timed_out()) {
        endpoint.log(conn->peer + ": took nothing it was sent for " +
                     std::to_string(send_time_limit.count() / 1000) + " s: dropped");
    }
}

}  // namespace ondelle

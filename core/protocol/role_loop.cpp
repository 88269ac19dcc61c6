// The frame loop every role shares, and the notice a displaced peer gets.
#include "protocol/role_loop.h"

#include "endpoint.h"

namespace ondelle {

std::string message_type(const Json& message) {
    return message.get("t").as_string("");
}

void serve_frames(Endpoint& endpoint, Conn& conn, Message& message,
                  const std::function<bool(Message&)>& handle) {
    if (endpoint.is_stopping()) return;
    static const Json pong = make_message("pong");
    while (conn.receive(message)) {
        if (message.type == Control && message_type(message.json) == "ping") {
            conn.send_json(pong);
        } else if (!handle(message)) {
            return;
        }
        if (endpoint.is_stopping()) return;
    }
}

void send_stopped_notice(Conn& displaced, const std::string& by_name) {
    Json notice = make_message("stopped");
    notice.set("reason", Json("taken"));
    if (!by_name.empty()) notice.set("by", Json(by_name));
    displaced.send_json(notice);
    displaced.shutdown();
}

}  // namespace ondelle

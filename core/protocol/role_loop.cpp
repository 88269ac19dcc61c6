// The frame loop every role shares, and the notice a displaced peer gets.
#include "protocol/role_loop.h"

#include <new>

#include "endpoint.h"

namespace ondelle {

std::string message_type(const Json& message) {
    return message.get("t").as_string("");
}

namespace {

// What a handled frame may leave behind: the buffers of a small frame are kept for the next
// one, those of a large one given back, so that an idle peer holds little.
constexpr std::size_t kept_capacity = 65536;

void release_what_was_handled(Message& message) {
    message.json = Json();
    if (message.text.capacity() > kept_capacity) std::string().swap(message.text);
    // Audio buffers go on to the play queue and come back from it; keep those.
    if (message.type != Audio && message.data.capacity() > kept_capacity)
        ByteVector().swap(message.data);
}

}  // namespace

void serve_frames(Endpoint& endpoint, Conn& conn, Message& message,
                  const std::function<bool(Message&)>& handle) {
    if (endpoint.is_stopping()) return;
    static const Json pong = make_message("pong");
    try {
        while (conn.receive(message)) {
            if (message.type == Control && message_type(message.json) == "ping") {
                conn.send_json(pong);
            } else if (!handle(message)) {
                return;
            }
            release_what_was_handled(message);
            if (endpoint.is_stopping()) return;
        }
    } catch (const std::bad_alloc&) {
        // This session cannot get memory: it ends, the endpoint goes on.
        message = Message();
        endpoint.log(conn.peer + ": out of memory for its messages: dropped");
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

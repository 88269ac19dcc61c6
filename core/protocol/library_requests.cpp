// Library requests: each goes to its hook, and the hook's answer is wrapped into the reply;
// without a hook the reply carries the fixed default.
#include <algorithm>
#include <limits>

#include "endpoint.h"
#include "engine/core_variant.h"
#include "protocol/roles.h"
#include "support/base64.h"

namespace ondelle {
namespace {

constexpr std::size_t max_json_art = 716799;  // its Base64 form still fits one frame
constexpr std::int64_t max_read = 524288;
constexpr std::uint64_t no_total = std::numeric_limits<std::uint64_t>::max();

Json ask(const std::function<Json(const Json&)>& hook, const Json& message) {
    return hook ? hook(message) : Json();
}

void add_members(const Json& answer, Json& reply) {
    if (!answer.is_object()) return;
    for (const auto& [key, value] : answer.members)
        reply.set(key, value);
}

void add_not_answered(Json& reply) {
    reply.set("ok", Json(false));
    reply.set("error", Json("not answered"));
}

void answer_art(Endpoint& endpoint, Conn& conn, const Json& message) {
    const std::string id = message.get("id").as_string("");
    std::string data;
    std::string mime;
    if (endpoint.on_library_art) endpoint.on_library_art(id, data, mime);
    if (conn.binary) {
        if (mime.empty()) mime = "image/jpeg";
        if (data.empty() || data.size() + id.size() + mime.size() + 25 > max_frame_length) {
            data.clear();
            mime.clear();
        }
        conn.send_blob(LibraryArt, 0, id, mime, 0, data.empty() ? no_total : data.size(),
                       data.data(), data.size());
        return;
    }
    Json reply = make_message("library_art");
    reply.set("id", Json(id));
    if (!data.empty() && data.size() <= max_json_art) {
        reply.set("mime", Json(mime.empty() ? std::string("image/jpeg") : mime));
        reply.set("data", Json(base64_encode(data)));
    }
    conn.send_json(reply);
}

void answer_read(Endpoint& endpoint, Conn& conn, const Json& message) {
    const std::string id = message.get("id").as_string("");
    const std::int64_t offset = message.get("offset").as_int(0);
    const std::int64_t length =
        std::clamp<std::int64_t>(message.get("length").as_int(0), 0, max_read);
    std::int64_t total = -1;
    std::string data;
    if (offset >= 0 && endpoint.on_library_read)
        data = endpoint.on_library_read(id, offset, length, total);
    if (conn.binary) {
        conn.send_blob(FileData, 0, id, "", static_cast<std::uint64_t>(offset),
                       static_cast<std::uint64_t>(total), data.data(), data.size());
        return;
    }
    Json reply = make_message("library_read");
    reply.set("id", Json(id));
    reply.set("offset", Json(offset));
    reply.set("size", Json(total));
    reply.set("data", Json(base64_encode(data)));
    conn.send_json(reply);
}

}  // namespace

bool library_request(Endpoint& endpoint, Conn& conn, const std::string& type, const Json& message) {
    Json reply = make_message(type.c_str());
    if (type == "library") {
        const Json answer = ask(endpoint.on_library, message);
        add_members(answer, reply);
        if (!answer.find("gen")) reply.set("total", Json(0));
    } else if (type == "library_lists") {
        add_members(ask(endpoint.on_library_lists, message), reply);
    } else if (type == "library_love") {
        reply.set("id", message.get("id"));
        const Json answer = ask(endpoint.on_library_love, message);
        if (answer.is_null()) add_not_answered(reply);
        add_members(answer, reply);
    } else if (type == "library_plays") {
        const Json answer = ask(endpoint.on_library_plays, message);
        if (answer.is_null()) add_not_answered(reply);
        add_members(answer, reply);
    } else if (answer_variant_library_request(endpoint, type, message, reply)) {
    } else if (type == "library_art") {
        answer_art(endpoint, conn, message);
        return true;
    } else if (type == "library_read") {
        answer_read(endpoint, conn, message);
        return true;
    } else {
        return false;
    }
    conn.send_json(reply);
    return true;
}

}  // namespace ondelle

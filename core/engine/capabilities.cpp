// The welcome, the capabilities and command results, built from the settings and the hooks
// the program installed.
#include "engine/capabilities.h"

#include <algorithm>

#include "endpoint.h"
#include "engine/core_variant.h"

namespace ondelle {
namespace {

template <typename T>
Json array_of(const std::vector<T>& values) {
    Json array = Json::array();
    for (const auto& value : values)
        array.push(Json(value));
    return array;
}

Json build_formats(const EndpointSettings& s) {
    Json pcm;
    pcm.set("rates", array_of(s.rates));
    pcm.set("bits", array_of(s.bits));
    pcm.set("channels", array_of(std::vector<std::int32_t>{2}));
    Json formats;
    formats.set("pcm", std::move(pcm));
    if (!s.dsd_rates.empty()) {
        Json dsd;
        dsd.set("rates", array_of(s.dsd_rates));
        dsd.set("layouts", array_of(s.layouts));
        formats.set("dsd", std::move(dsd));
    }
    return formats;
}

Json build_base_welcome(const EndpointSettings& s) {
    Json welcome = make_message("welcome");
    welcome.set("proto", Json(1));
    Json endpoint;
    endpoint.set("id", Json(s.id));
    endpoint.set("name", Json(s.name));
    endpoint.set("model", Json(s.model));
    endpoint.set("vendor", Json(s.vendor));
    welcome.set("endpoint", std::move(endpoint));
    welcome.set("formats", build_formats(s));
    welcome.set("codecs", array_of(std::vector<std::string>{"pcm"}));
    Json volume;
    volume.set("kind", Json(s.volume_kind));
    volume.set("value", Json(s.volume));
    volume.set("muted", Json(s.muted));
    if (s.volume_steps > 0) volume.set("steps", Json(s.volume_steps));
    welcome.set("volume", std::move(volume));
    welcome.set("buffer_ms", Json(s.buffer_ms));
    if (s.burst_ms > 0) welcome.set("burst_ms", Json(s.burst_ms));
    if (!s.dsp.empty()) welcome.set("dsp", Json(s.dsp));
    if (s.handoff) welcome.set("handoff", Json(true));
    if (!s.native.empty()) welcome.set("native", array_of(s.native));
    return welcome;
}

bool has_native(const EndpointSettings& s, const char* name) {
    return std::find(s.native.begin(), s.native.end(), name) != s.native.end();
}

void copy_members(const Json& from, Json& into) {
    if (!from.is_object()) return;
    for (const auto& [key, value] : from.members)
        into.set(key, value);
}

}  // namespace

Json build_welcome(const Endpoint& endpoint, std::int32_t proto, bool burst, bool flac, bool away) {
    const EndpointSettings& s = endpoint.settings;
    Json welcome = build_base_welcome(s);
    const bool local = local_files_offered(endpoint);
    if (flac || local) {
        std::vector<std::string> codecs{"pcm"};
        if (flac) codecs.emplace_back("flac");
        if (local) codecs.emplace_back("local");
        welcome.set("codecs", array_of(codecs));
    }
    if (local) welcome.set("local", build_formats(s));
    const std::int32_t profile_buffer = away ? s.away_buffer_ms : s.buffer_ms;
    const std::int32_t profile_burst = away ? s.away_burst_ms : s.burst_ms;
    if (away) {
        welcome.set("buffer_ms", Json(s.away_buffer_ms));
        welcome.set("burst_ms", Json(s.away_burst_ms));
    }
    if (!burst && profile_burst > 0) {
        welcome.set("buffer_ms", Json(std::min(profile_buffer, 2000)));
        welcome.set("burst_ms", Json(0));
    }
    welcome.set("proto", Json(proto));
    welcome.set("formats", build_formats(s));
    if (proto > 1) welcome.set("capabilities", build_capabilities(endpoint));
    return welcome;
}

Json build_capabilities(const Endpoint& endpoint) {
    const EndpointSettings& s = endpoint.settings;
    const bool library = has_native(s, "library");
    Json caps;
    caps.set("native", array_of(s.native));
    caps.set("library", Json(library && static_cast<bool>(endpoint.on_library)));
    caps.set("library_sync",
             Json(library && endpoint.on_library_love && endpoint.on_library_plays));
    add_variant_capabilities(endpoint, caps);
    caps.set("takeback", Json(static_cast<bool>(endpoint.on_takeback)));
    caps.set("handoff", Json(endpoint.on_handoff && endpoint.on_command));
    caps.set("dsp", Json(static_cast<bool>(endpoint.on_dsp_command)));
    caps.set("transfer", Json(static_cast<bool>(endpoint.on_transfer)));
    caps.set("gain", Json(s.gain));
    caps.set("binary", Json(true));
    std::string in_use;
    if (endpoint.sender) {
        in_use = endpoint.sender_name;
    } else if (endpoint.remote) {
        in_use = endpoint.remote_name;
    }
    caps.set("in_use", Json(in_use));
    return caps;
}

Json build_result(Endpoint& endpoint, const Json& command, bool from_control) {
    Json result = make_message("result");
    result.set("id", command.get("id"));
    const std::string action = command.get("action").as_string("");
    if (action == "transfer" && endpoint.on_transfer) {
        copy_members(endpoint.on_transfer(command), result);
    } else if (action.rfind("dsp_", 0) == 0 && endpoint.on_dsp_command) {
        copy_members(endpoint.on_dsp_command(command), result);
    } else if (action.rfind("dsp_", 0) != 0 && !from_control && endpoint.on_command) {
        copy_members(endpoint.on_command(command), result);
    } else {
        result.set("ok", Json(false));
        result.set("error", Json("unsupported"));
    }
    if (!result.find("ok")) result.set("ok", Json(false));
    return result;
}

void Endpoint::broadcast_capabilities() {
    std::vector<std::shared_ptr<Conn>> peers;
    Json caps;
    {
        std::lock_guard lock(mutex);
        if (sender) peers.push_back(sender);
        if (remote) peers.push_back(remote);
        peers.insert(peers.end(), libraries.begin(), libraries.end());
        peers.insert(peers.end(), controls.begin(), controls.end());
        caps = build_capabilities(*this);
    }
    Json native_sources = make_message("native_sources");
    native_sources.set("native", caps.get("native"));
    Json capabilities = make_message("capabilities");
    for (const auto& [key, value] : caps.members)
        capabilities.set(key, value);
    // One deadline for all: peers that do not read cost the others one time limit at most.
    const SendDeadline deadline = send_deadline();
    for (const auto& peer : peers)
        peer->send_json(peer->proto < 2 ? native_sources : capabilities, deadline);
}

}  // namespace ondelle

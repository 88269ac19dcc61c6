#include <gtest/gtest.h>

#include "endpoint.h"
#include "engine/core_variant.h"
#include "helpers/peer.h"
#include "helpers/running_endpoint.h"

namespace ondelle {
namespace {

using namespace std::chrono_literals;
using test::Peer;
using test::RunningEndpoint;

Json welcome_of(int port, const std::string& hello, const char* source = nullptr) {
    std::string text;
    Peer peer = Peer::hello(port, hello, &text, source);
    Json welcome;
    EXPECT_TRUE(parse_json(text, welcome)) << text;
    return welcome;
}

// Only the full core answers private library requests.
const char* const private_library_member =
    std::string(core_variant_name) == "full" ? R"("library_private":false,)" : "";

TEST(Welcome, DefaultSettingsAsExactText) {
    RunningEndpoint running;
    std::string text;
    Peer::hello(running.port, R"({"t":"hello","proto":1,"sender":{"name":"Phone"}})", &text);
    EXPECT_EQ(
        text,
        R"({"t":"welcome","proto":1,"endpoint":{"id":"","name":"","model":"","vendor":""},)"
        R"("formats":{"pcm":{"rates":[44100,48000,88200,96000,176400,192000],"bits":[16,24,32],"channels":[2]}},)"
        R"("codecs":["pcm"],"volume":{"kind":"fixed","value":100,"muted":false},"buffer_ms":2000})");

    Peer::hello(running.port, R"({"t":"hello","proto":2,"sender":{"name":"Tablet"}})", &text);
    EXPECT_EQ(
        text,
        R"({"t":"welcome","proto":2,"endpoint":{"id":"","name":"","model":"","vendor":""},)"
        R"("formats":{"pcm":{"rates":[44100,48000,88200,96000,176400,192000],"bits":[16,24,32],"channels":[2]}},)"
        R"("codecs":["pcm"],"volume":{"kind":"fixed","value":100,"muted":false},"buffer_ms":2000,)"
        R"("capabilities":{"native":[],"library":false,"library_sync":false,)" +
            std::string(private_library_member) +
            R"("takeback":false,"handoff":false,"dsp":false,"transfer":false,"gain":false,"binary":true,"in_use":"Tablet"}})");
}

TEST(Welcome, DescribesEverySettingInOrder) {
    EndpointSettings s;
    s.id = "id1";
    s.name = "Den";
    s.model = "m";
    s.vendor = "v";
    s.dsp = "EQ";
    s.rates = {44100};
    s.bits = {24};
    s.dsd_rates = {2822400, 5644800};
    s.layouts = {"u8", "u32be"};
    s.volume_kind = "hardware";
    s.volume = 42;
    s.volume_steps = 50;
    s.muted = true;
    s.burst_ms = 300;
    s.handoff = true;
    s.native = {"library", "radio"};
    RunningEndpoint running(s);
    std::string text;
    Peer::hello(running.port, R"({"t":"hello","proto":1,"burst":true})", &text);
    EXPECT_EQ(
        text,
        R"({"t":"welcome","proto":1,"endpoint":{"id":"id1","name":"Den","model":"m","vendor":"v"},)"
        R"("formats":{"pcm":{"rates":[44100],"bits":[24],"channels":[2]},"dsd":{"rates":[2822400,5644800],"layouts":["u8","u32be"]}},)"
        R"("codecs":["pcm"],"volume":{"kind":"hardware","value":42,"muted":true,"steps":50},)"
        R"("buffer_ms":2000,"burst_ms":300,"dsp":"EQ","handoff":true,"native":["library","radio"]})");
}

TEST(Welcome, BurstAndAwayProfiles) {
    EndpointSettings s;
    s.buffer_ms = 3000;
    s.burst_ms = 500;
    s.away_buffer_ms = 4000;
    s.away_burst_ms = 0;
    s.local_sender = "home";
    RunningEndpoint running(s);
    const struct {
        const char* hello;
        const char* source;
        int buffer_ms;
        int burst_ms;
    } cases[] = {
        {R"({"t":"hello","proto":1,"burst":true,"sender":{"id":"home"}})", "127.0.0.1", 3000, 500},
        {R"({"t":"hello","proto":1,"sender":{"id":"home"}})", "127.0.0.1", 2000,
         0},  // cannot burst
        {R"({"t":"hello","proto":1,"burst":true,"sender":{"id":"far"}})", "127.0.0.1", 4000,
         0},  // away
        {R"({"t":"hello","proto":1,"sender":{"id":"far"}})", "127.0.0.2", 2000, 0},
    };
    for (const auto& c : cases) {
        const Json w = welcome_of(running.port, c.hello, c.source);
        EXPECT_EQ(w.get("buffer_ms").as_int(-1), c.buffer_ms) << c.hello << " from " << c.source;
        EXPECT_EQ(w.get("burst_ms").as_int(-1), c.burst_ms) << c.hello << " from " << c.source;
    }
}


TEST(Capabilities, BroadcastAsNativeSourcesToVersionOnePeers) {
    EndpointSettings s;
    s.native = {"radio"};
    RunningEndpoint running(s);
    std::string ignored;
    auto library =
        Peer::hello(running.port, R"({"t":"hello","proto":1,"role":"library"})", &ignored);
    auto control =
        Peer::hello(running.port, R"({"t":"hello","proto":2,"role":"control"})", &ignored);
    ASSERT_TRUE(running.wait_for_log("control: "));

    auto sender =
        Peer::hello(running.port, R"({"t":"hello","proto":2,"sender":{"name":"Lou"}})", &ignored);
    EXPECT_EQ(library.read_json(), R"({"t":"native_sources","native":["radio"]})");
    EXPECT_EQ(
        control.read_json(),
        R"({"t":"capabilities","native":["radio"],"library":false,"library_sync":false,)" +
            std::string(private_library_member) +
            R"("takeback":false,"handoff":false,"dsp":false,"transfer":false,"gain":false,"binary":true,"in_use":"Lou"})");
    const auto own = sender.read_json();  // the sender is told too
    ASSERT_TRUE(own);
    EXPECT_NE(own->find(R"("t":"capabilities")"), std::string::npos);

    sender.close();  // leaving is broadcast as well: nobody in use now
    const auto after = control.read_json();
    ASSERT_TRUE(after);
    EXPECT_NE(after->find(R"("in_use":"")"), std::string::npos);
}

TEST(Commands, ResultsWithAndWithoutHooks) {
    RunningEndpoint plain;
    std::string ignored;
    auto control = Peer::hello(plain.port, R"({"t":"hello","proto":2,"role":"control"})", &ignored);
    control.send_json(R"({"t":"command","id":5,"action":"play"})");
    EXPECT_EQ(control.read_json(), R"({"t":"result","id":5,"ok":false,"error":"unsupported"})");
    control.send_json(R"({"t":"command"})");
    EXPECT_EQ(control.read_json(), R"({"t":"result","id":null,"ok":false,"error":"unsupported"})");
    control.send_json(R"({"t":"command","id":"x","action":"dsp_eq"})");
    EXPECT_EQ(control.read_json(), R"({"t":"result","id":"x","ok":false,"error":"unsupported"})");

    RunningEndpoint hooked({}, nullptr, [](Endpoint& e) {
        e.on_command = [](const Json&) {
            Json reply;
            reply.set("done", Json(true));
            return reply;
        };
        e.on_dsp_command = [](const Json&) {
            Json reply;
            reply.set("ok", Json(true));
            reply.set("id", Json(99));
            return reply;
        };
    });
    auto remote = Peer::hello(hooked.port, R"({"t":"hello","proto":2,"role":"remote"})", &ignored);
    remote.read_json();  // the capabilities broadcast on arrival
    remote.send_json(R"({"t":"command","id":1,"action":"play"})");
    EXPECT_EQ(remote.read_json(), R"({"t":"result","id":1,"done":true,"ok":false})");
    remote.send_json(R"({"t":"command","id":2,"action":"dsp_eq"})");
    EXPECT_EQ(remote.read_json(), R"({"t":"result","id":99,"ok":true})");
    remote.send_json(R"({"t":"command","id":3,"action":"transfer"})");  // no transfer hook
    EXPECT_EQ(remote.read_json(), R"({"t":"result","id":3,"done":true,"ok":false})");

    auto hooked_control =
        Peer::hello(hooked.port, R"({"t":"hello","proto":2,"role":"control"})", &ignored);
    hooked_control.send_json(R"({"t":"command","id":4,"action":"play"})");  // remotes only
    EXPECT_EQ(hooked_control.read_json(),
              R"({"t":"result","id":4,"ok":false,"error":"unsupported"})");
}

}  // namespace
}  // namespace ondelle

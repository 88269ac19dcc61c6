// What only the full core offers in its welcome: FLAC by the endpoint's mode, local files.
#include <gtest/gtest.h>

#include "endpoint.h"
#include "helpers/peer.h"
#include "helpers/running_endpoint.h"

namespace ondelle {
namespace {

using test::Peer;
using test::RunningEndpoint;

Json welcome_of(int port, const std::string& hello, const char* source = nullptr) {
    std::string text;
    Peer::hello(port, hello, &text, source);
    Json welcome;
    EXPECT_TRUE(parse_json(text, welcome)) << text;
    return welcome;
}

TEST(Welcome, FlacPermissionFollowsTheMode) {
    EndpointSettings s;
    s.local_sender = "home";
    RunningEndpoint running(s);
    const struct {
        int mode;
        const char* id;
        const char* source;
        bool flac;
    } cases[] = {
        {0, "far", "127.0.0.1", false}, {1, "home", "127.0.0.1", false},
        {1, "far", "127.0.0.1", true},  {1, "far", "127.0.0.2", false},
        {2, "home", "127.0.0.2", true}, {2, "far", "127.0.0.1", true},
    };
    for (const auto& c : cases) {
        running.endpoint.set_flac_mode(c.mode);
        const Json w = welcome_of(
            running.port,
            std::string(R"({"t":"hello","proto":1,"sender":{"id":")") + c.id + R"("}})", c.source);
        EXPECT_EQ(dump_json(w.get("codecs")), c.flac ? R"(["pcm","flac"])" : R"(["pcm"])")
            << "mode " << c.mode << " id " << c.id << " from " << c.source;
    }
    {
        std::lock_guard lock(running.endpoint.mutex);
        running.endpoint.flac_refused = "far";
    }
    EXPECT_EQ(dump_json(welcome_of(running.port, R"({"t":"hello","proto":1,"sender":{"id":"far"}})")
                            .get("codecs")),
              R"(["pcm"])");
    EXPECT_EQ(dump_json(welcome_of(running.port, R"({"t":"hello","proto":1,"sender":{"id":"x"}})")
                            .get("codecs")),
              R"(["pcm","flac"])");
}

TEST(Welcome, LocalFilesAreOfferedWithAnOpener) {
    RunningEndpoint running({}, nullptr, [](Endpoint& e) {
        e.local_files = true;
        e.open_local = [](const Track&, const Format&, std::string&) { return nullptr; };
    });
    const Json w = welcome_of(running.port, R"({"t":"hello","proto":1})");
    EXPECT_EQ(dump_json(w.get("codecs")), R"(["pcm","local"])");
    EXPECT_EQ(dump_json(w.get("local")), dump_json(w.get("formats")));
}

}  // namespace
}  // namespace ondelle

#include <gtest/gtest.h>

#include <thread>

#include "engine/core_variant.h"
#include "helpers/peer.h"
#include "helpers/recording_sink.h"
#include "helpers/running_endpoint.h"

namespace ondelle {
namespace {

using namespace std::chrono_literals;
using test::Peer;
using test::RunningEndpoint;

std::string hello(const char* role, const char* id, const char* name, bool binary = false) {
    return std::string(R"({"t":"hello","proto":2,"role":")") + role + R"(","sender":{"id":")" + id +
           R"(","name":")" + name + R"("},"binary":)" + (binary ? "true" : "false") + "}";
}

TEST(Remote, DisplacesSendersOfOtherProgramsAndOlderRemotes) {
    RunningEndpoint running;
    auto sender = Peer::hello(running.port, hello("stream", "app", "Phone"));
    auto friendly = Peer::hello(running.port, hello("remote", "app", "Watch"));
    EXPECT_TRUE(sender.read_message("capabilities"));     // the remote's arrival
    EXPECT_FALSE(sender.read_message("stopped", 300ms));  // same program: left alone

    auto stranger = Peer::hello(running.port, hello("remote", "other", "Tablet"));
    EXPECT_EQ(sender.read_message("stopped"), R"({"t":"stopped","reason":"taken","by":"Tablet"})");
    EXPECT_TRUE(sender.wait_closed());
    EXPECT_EQ(friendly.read_message("stopped"),
              R"({"t":"stopped","reason":"taken","by":"Tablet"})");
    EXPECT_TRUE(friendly.wait_closed());
    ASSERT_TRUE(running.wait_for_log("remote: Tablet"));
    std::this_thread::sleep_for(100ms);  // the displaced sessions finish their clean-up
    std::lock_guard lock(running.endpoint.mutex);
    ASSERT_TRUE(running.endpoint.remote);
    EXPECT_EQ(running.endpoint.remote->sender_id, "other");
    EXPECT_EQ(running.endpoint.remote_name, "Tablet");
    EXPECT_FALSE(running.endpoint.sender);
}

TEST(Remote, ANewSenderOfAnotherProgramDisplacesTheRemote) {
    RunningEndpoint running;
    auto remote = Peer::hello(running.port, hello("remote", "a", "Remote"));
    auto sender = Peer::hello(running.port, hello("stream", "b", "Laptop"));
    EXPECT_EQ(remote.read_message("stopped"), R"({"t":"stopped","reason":"taken","by":"Laptop"})");
    EXPECT_TRUE(remote.wait_closed());
}

TEST(Library, DefaultRepliesWithoutHooks) {
    RunningEndpoint running;
    auto json_peer = Peer::hello(running.port, hello("library", "a", "Lib"));
    const struct {
        const char* request;
        const char* reply;
    } cases[] = {
        {R"({"t":"library"})", R"({"t":"library","total":0})"},
        {R"({"t":"library_lists","x":1})", R"({"t":"library_lists"})"},
        {R"({"t":"library_plays"})", R"({"t":"library_plays","ok":false,"error":"not answered"})"},
        {R"({"t":"library_love","id":7})",
         R"({"t":"library_love","id":7,"ok":false,"error":"not answered"})"},
        {R"({"t":"library_read","id":"f1","offset":10,"length":99})",
         R"({"t":"library_read","id":"f1","offset":10,"size":-1,"data":""})"},
        {R"({"t":"library_art","id":"a1"})", R"({"t":"library_art","id":"a1"})"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(json_peer.send_json(c.request));
        EXPECT_EQ(json_peer.read_json(), c.reply) << c.request;
    }
    // Private requests exist in the full core only; elsewhere, like unknown library types,
    // they get no reply.
    ASSERT_TRUE(json_peer.send_json(R"({"t":"library_private"})"));
    if (std::string(core_variant_name) == "full") {
        EXPECT_EQ(json_peer.read_json(),
                  R"({"t":"library_private","ok":false,"error":"not answered"})");
    }
    ASSERT_TRUE(json_peer.send_json(R"({"t":"library_unknown"})"));
    EXPECT_TRUE(json_peer.stays_silent(300ms));
}

TEST(Library, BinaryPeersGetBlobs) {
    RunningEndpoint running;
    auto peer = Peer::hello(running.port, hello("library", "b", "Lib", true));
    const std::string no_total = test::be64(~0ull);
    ASSERT_TRUE(peer.send_json(R"({"t":"library_read","id":"f1","offset":5,"length":10})"));
    auto frame = peer.read_frame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->type, 3);
    EXPECT_EQ(frame->payload, std::string("\x01", 1) + test::be32(0) + std::string("\x00\x02", 2) +
                                  "f1" + std::string(1, '\0') + test::be64(5) + no_total);
    ASSERT_TRUE(peer.send_json(R"({"t":"library_art","id":"a1"})"));
    frame = peer.read_frame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->payload, std::string("\x02", 1) + test::be32(0) + std::string("\x00\x02", 2) +
                                  "a1" + std::string(1, '\0') + test::be64(0) + no_total);
}

TEST(Library, HookAnswersAndTheirLimits) {
    RunningEndpoint running({}, nullptr, [](Endpoint& e) {
        e.on_library_art = [](const std::string& id, std::string& data, std::string& mime) {
            data.assign(id == "big" ? 716800 : 3, 'p');
            mime = "";
        };
        e.on_library_read = [](const std::string&, std::int64_t offset, std::int64_t length,
                               std::int64_t& total) {
            total = 1000000;
            return std::string(static_cast<std::size_t>(length),
                               static_cast<char>('a' + offset % 26));
        };
        e.on_library = [](const Json&) {
            Json answer;
            answer.set("gen", Json(4));
            answer.set("t", Json("replaced"));
            return answer;
        };
    });
    auto peer = Peer::hello(running.port, hello("library", "c", "Lib"));
    ASSERT_TRUE(peer.send_json(R"({"t":"library_art","id":"small"})"));
    EXPECT_EQ(peer.read_json(),
              R"({"t":"library_art","id":"small","mime":"image/jpeg","data":"cHBw"})");
    ASSERT_TRUE(peer.send_json(R"({"t":"library_art","id":"big"})"));  // too large for JSON: bare
    EXPECT_EQ(peer.read_json(), R"({"t":"library_art","id":"big"})");
    ASSERT_TRUE(peer.send_json(R"({"t":"library_read","id":"f","offset":1,"length":900000})"));
    const auto read = peer.read_json();
    ASSERT_TRUE(read);
    Json v;
    parse_json(*read, v);
    EXPECT_EQ(v.get("size").as_int(0), 1000000);
    EXPECT_EQ(v.get("data").as_string("").size(), (524288u + 2) / 3 * 4);  // clamped to 512 KiB
    ASSERT_TRUE(peer.send_json(R"({"t":"library_read","id":"f","offset":-1,"length":10})"));
    EXPECT_EQ(peer.read_json(), R"({"t":"library_read","id":"f","offset":-1,"size":-1,"data":""})");
    ASSERT_TRUE(peer.send_json(R"({"t":"library"})"));
    EXPECT_EQ(peer.read_json(), R"({"t":"replaced","gen":4})");
}

TEST(Library, AtMostEightPeersOnePerSenderId) {
    RunningEndpoint running;
    std::vector<Peer> peers;
    for (int i = 0; i < 8; ++i) {
        peers.push_back(
            Peer::hello(running.port, hello("library", ("id" + std::to_string(i)).c_str(), "L")));
    }
    auto ninth = Peer::hello(running.port, hello("library", "id8", "L"));
    EXPECT_TRUE(peers[0].wait_closed());  // the oldest goes, without a message
    EXPECT_TRUE(peers[1].stays_silent(200ms));
    auto again = Peer::hello(running.port, hello("library", "id3", "L"));
    EXPECT_TRUE(peers[3].wait_closed());
    auto anonymous1 = Peer::hello(running.port, R"({"t":"hello","proto":2,"role":"library"})");
    auto anonymous2 = Peer::hello(running.port, R"({"t":"hello","proto":2,"role":"library"})");
    EXPECT_TRUE(anonymous1.wait_closed());  // two empty ids count as one sender
}

TEST(Native, DefaultRepliesWithoutHooks) {
    RunningEndpoint running;
    auto sender = Peer::hello(running.port, hello("stream", "s", "S"));
    const struct {
        const char* type;
        const char* reply;
    } cases[] = {
        {"handoff", R"({"t":"handoff","accepted":false})"},
        {"native", R"({"t":"native","accepted":false})"},
        {"native_attach",
         R"({"t":"native_attach","tracks":[],"index":-1,"position_ms":0,"state":"paused"})"},
        {"takeback", R"({"t":"takeback","tracks":null,"index":0,"position_ms":0})"},
        {"library_lists", R"({"t":"library_lists"})"},  // the sender may ask the library too
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(sender.send_json(std::string(R"({"t":")") + c.type + R"("})"));
        EXPECT_EQ(sender.read_message(c.type), c.reply) << c.type;
    }
    ASSERT_TRUE(sender.send_json(R"({"t":"native_control","action":"seek","ms":5})"));
    ASSERT_TRUE(sender.send_json(R"({"t":"ping"})"));
    EXPECT_EQ(sender.read_json(), R"({"t":"pong"})");  // nothing came before it
}

TEST(Control, AFloodOfCommandsLeavesPlaybackIntactAndOnTime) {
    test::RecordingSink sink;
    sink.play_in_real_time(true);
    RunningEndpoint running({}, &sink);
    auto sender = Peer::hello(running.port, hello("stream", "s", "S"));
    auto control = Peer::hello(running.port, hello("control", "c", "C"));
    std::string audio(44100 * 4 * 2, '\0');  // two seconds
    for (std::size_t i = 0; i < audio.size(); ++i)
        audio[i] = static_cast<char>(i * 31);
    const auto began = std::chrono::steady_clock::now();
    ASSERT_TRUE(sender.send_json(
        R"({"t":"start","stream":1,"format":{"kind":"pcm","rate":44100,"bits":16}})"));
    std::thread flood([&] {
        std::string burst;
        for (int i = 0; i < 10000; ++i) {
            const std::string command =
                R"({"t":"command","id":)" + std::to_string(i) + R"(,"action":"play"})";
            burst +=
                test::frame_header(static_cast<std::uint32_t>(command.size() + 1), 1) + command;
            if (i % 7 == 0) burst += test::frame_header(5, 1) + "junk";
        }
        control.send_bytes(burst);
    });
    for (std::size_t at = 0; at < audio.size(); at += 17640)
        sender.send_audio(1, audio.substr(at, 17640));
    int results = 0;
    while (results < 10000 && control.read_message("result"))
        ++results;
    flood.join();
    ASSERT_TRUE(sink.wait_for_bytes(audio.size(), 5s));
    const auto took = std::chrono::steady_clock::now() - began;
    const auto played = sink.played();
    EXPECT_EQ(std::string(played.begin(), played.end()), audio);
    EXPECT_EQ(results, 10000);
    EXPECT_LT(took, 3500ms);  // two seconds of audio, with a generous margin
}

}  // namespace
}  // namespace ondelle

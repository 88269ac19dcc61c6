#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "engine/core_variant.h"
#include "helpers/peer.h"
#include "helpers/recording_sink.h"
#include "helpers/running_endpoint.h"

namespace ondelle {
namespace {

using namespace std::chrono_literals;
using test::Peer;
using test::RecordingSink;
using test::RunningEndpoint;

// Which build of the core this binary tests: the reduced one takes plain PCM and DSD only and
// keeps its output open when idle.
const bool full_core = std::string(core_variant_name) == "full";

std::string start(int stream, const std::string& format, const std::string& extra = "") {
    return R"({"t":"start","stream":)" + std::to_string(stream) + R"(,"format":)" + format + extra +
           "}";
}

const std::string cd = R"({"kind":"pcm","rate":44100,"bits":16,"channels":2,"codec":"pcm"})";
const std::string hires = R"({"kind":"pcm","rate":96000,"bits":24,"channels":2,"codec":"pcm"})";

std::string pattern(std::size_t bytes, int seed = 0) {
    std::string s(bytes, '\0');
    for (std::size_t i = 0; i < bytes; ++i)
        s[i] = static_cast<char>((i * 7 + seed) & 0xFF);
    return s;
}

// Polls until done holds, for at most five seconds.
bool eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 500; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(10ms);
    }
    return done();
}

// An endpoint with a recording sink and one connected sender.
struct Streaming {
    explicit Streaming(
        EndpointSettings settings = {}, const std::function<void(Endpoint&)>& install = {},
        const std::string& hello = R"({"t":"hello","proto":2,"sender":{"id":"s1","name":"One"}})")
        : running(std::move(settings), &sink, install), sender(Peer::hello(running.port, hello)) {}

    RecordingSink sink;
    RunningEndpoint running;
    Peer sender;
};

TEST(SenderStream, PlaysPcmInTwentyMillisecondChunksByteForByte) {
    Streaming s;
    const std::string audio = pattern(2000 * 4);
    ASSERT_TRUE(s.sender.send_json(start(1, cd)));
    ASSERT_TRUE(s.sender.send_audio(1, audio.substr(0, 4000)));
    ASSERT_TRUE(s.sender.send_audio(1, audio.substr(4000)));
    ASSERT_TRUE(s.sender.send_json(R"({"t":"end","stream":1})"));
    ASSERT_TRUE(s.sink.wait_for_bytes(audio.size()));
    const auto played = s.sink.played();
    EXPECT_EQ(std::string(played.begin(), played.end()), audio);
    EXPECT_EQ(s.sink.calls(),
              (std::vector<std::string>{"gain 0 nan", "open pcm/44100/16/2", "write 882",
                                        "write 118", "write 882", "write 118"}));
    std::lock_guard lock(s.running.endpoint.mutex);
    EXPECT_EQ(s.running.endpoint.bytes_received, audio.size() + 2 * 13);
}

struct FormatCase {
    const char* name;
    std::string format;
    bool accepted;  // in the full core
    bool accepted_reduced;
};

class SenderFormats : public testing::TestWithParam<FormatCase> {};

TEST_P(SenderFormats, AcceptsWhatTheSettingsPlay) {
    EndpointSettings settings;
    settings.dsd_rates = {2822400};
    Streaming s(settings);
    ASSERT_TRUE(s.sender.send_json(start(3, GetParam().format)));
    ASSERT_TRUE(s.sender.send_json(R"({"t":"ping"})"));
    const bool accepted = full_core ? GetParam().accepted : GetParam().accepted_reduced;
    Json format;
    parse_json(GetParam().format, format);
    const auto reply = s.sender.read_message(accepted ? "pong" : "error");
    if (!accepted) {
        EXPECT_EQ(
            reply, R"({"t":"error","code":"format","message":"this endpoint does not play )" + [&] {
                std::string escaped;
                for (char c : dump_json(format))
                    escaped += c == '"' ? std::string("\\\"") : std::string(1, c);
                return escaped;
            }() + "\"}");
    } else {
        EXPECT_TRUE(reply);
        EXPECT_TRUE(s.sink.wait_for_call("open " + std::string(format.get("kind").as_string("")) +
                                         "/" + format.get("rate").as_string("") + "/" +
                                         format.get("bits").as_string("0") + "/2"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, SenderFormats,
    testing::Values(
        FormatCase{"Cd", cd, true, true},
        FormatCase{"Mono", R"({"kind":"pcm","rate":44100,"bits":16,"channels":1,"codec":"pcm"})",
                   false, false},
        FormatCase{"RateNotPlayed", R"({"kind":"pcm","rate":22050,"bits":16,"channels":2})", false,
                   false},
        FormatCase{"BitsNotPlayed", R"({"kind":"pcm","rate":44100,"bits":8,"channels":2})", false,
                   false},
        FormatCase{"Dsd", R"({"kind":"dsd","rate":2822400,"layout":"u8"})", true, true},
        FormatCase{"DsdLayoutNotAccepted", R"({"kind":"dsd","rate":2822400,"layout":"u32be"})",
                   false, false},
        FormatCase{"FlacPcm", R"({"kind":"pcm","rate":44100,"bits":16,"codec":"flac"})", true,
                   false},
        FormatCase{"FlacDsd", R"({"kind":"dsd","rate":2822400,"codec":"flac"})", false, false},
        FormatCase{"UnknownCodec", R"({"kind":"pcm","rate":44100,"bits":16,"codec":"mp3"})", false,
                   false},
        FormatCase{"Missing", "null", false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SenderFormats, LocalStreamsWithoutAnOpener) {
    Streaming s;
    const char* expected =
        full_core
            ? R"({"t":"error","code":"local","stream":4,"message":"this endpoint keeps no copy of that file"})"
            : R"({"t":"error","code":"format")";
    ASSERT_TRUE(
        s.sender.send_json(start(4, R"({"kind":"pcm","rate":44100,"bits":16,"codec":"local"})")));
    const auto reply = s.sender.read_message("error");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->rfind(expected, 0), 0u) << *reply;
    // Not playable: the format error wins.
    ASSERT_TRUE(
        s.sender.send_json(start(5, R"({"kind":"pcm","rate":12345,"bits":16,"codec":"local"})")));
    const auto second = s.sender.read_message("error");
    ASSERT_TRUE(second);
    EXPECT_NE(second->find(R"("code":"format")"), std::string::npos);
}

TEST(SenderStream, ADeviceThatWillNotOpenTellsTheSender) {
    Streaming s;
    s.sink.fail_opens("the device is busy");
    ASSERT_TRUE(s.sender.send_json(start(1, cd)));
    ASSERT_TRUE(s.sender.send_audio(1, pattern(400)));
    EXPECT_EQ(s.sender.read_message("error"),
              R"({"t":"error","code":"device","message":"the device is busy"})");
    s.sink.fail_opens("");
    ASSERT_TRUE(s.sender.send_json(start(2, cd)));  // the next stream tries again
    ASSERT_TRUE(s.sender.send_audio(2, pattern(400)));
    ASSERT_TRUE(s.sink.wait_for_bytes(400));
    for (const auto& call : s.sink.calls())
        EXPECT_NE(call, "write 0");
}

TEST(SenderTakeover, ANewSenderDisplacesTheOldOne) {
    Streaming s;
    ASSERT_TRUE(s.sender.send_json(start(1, cd)));
    ASSERT_TRUE(s.sender.send_audio(1, pattern(4000)));
    ASSERT_TRUE(s.sink.wait_for_bytes(4000));
    std::string welcome;
    auto second = Peer::hello(
        s.running.port, R"({"t":"hello","proto":2,"sender":{"id":"s2","name":"Two"}})", &welcome);
    EXPECT_EQ(s.sender.read_message("stopped"), R"({"t":"stopped","reason":"taken","by":"Two"})");
    EXPECT_TRUE(s.sender.wait_closed());
    EXPECT_TRUE(s.sink.wait_for_call("close"));  // the new sender's takeover stops playback
    EXPECT_TRUE(s.running.wait_for_log("sender: Two"));
}

TEST(SenderFlow, FlushDropsTheFlushedStreamsAudioUntilTheNextStart) {
    Streaming s;
    ASSERT_TRUE(s.sender.send_json(start(1, cd)));
    ASSERT_TRUE(s.sender.send_audio(1, pattern(400, 1)));
    ASSERT_TRUE(s.sink.wait_for_bytes(400));
    ASSERT_TRUE(s.sender.send_json(R"({"t":"flush"})"));
    ASSERT_TRUE(s.sender.send_audio(1, pattern(400, 2)));  // still on its way: dropped
    ASSERT_TRUE(s.sender.send_json(start(2, cd)));
    ASSERT_TRUE(s.sender.send_audio(2, pattern(400, 3)));
    ASSERT_TRUE(s.sink.wait_for_bytes(800));
    const auto played = s.sink.played();
    EXPECT_EQ(std::string(played.begin() + 400, played.end()), pattern(400, 3));
    EXPECT_TRUE(s.sink.wait_for_call("flush"));
}

TEST(SenderFlow, PauseResumeAndStopWhilePaused) {
    Streaming s;
    ASSERT_TRUE(s.sender.send_json(start(1, cd)));
    ASSERT_TRUE(s.sender.send_audio(1, pattern(400)));
    ASSERT_TRUE(s.sink.wait_for_bytes(400));
    ASSERT_TRUE(s.sender.send_json(R"({"t":"pause"})"));
    ASSERT_TRUE(s.sink.wait_for_call("pause"));
    ASSERT_TRUE(s.sender.send_audio(1, pattern(400)));
    EXPECT_FALSE(s.sink.wait_for_bytes(800, 300ms));  // held while paused
    ASSERT_TRUE(s.sender.send_json(R"({"t":"resume"})"));
    ASSERT_TRUE(s.sink.wait_for_bytes(800));
    ASSERT_TRUE(s.sender.send_json(R"({"t":"pause"})"));
    ASSERT_TRUE(s.sink.wait_for(
        [](const auto& c) { return std::count(c.begin(), c.end(), "pause") == 2; }));
    ASSERT_TRUE(s.sender.send_json(R"({"t":"stop"})"));
    ASSERT_TRUE(s.sink.wait_for_call("close"));
    const auto calls = s.sink.calls();
    const std::vector<std::string> tail(calls.end() - 3, calls.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"flush", "resume", "close"}));
    EXPECT_TRUE(eventually([&] {
        std::lock_guard lock(s.running.endpoint.mutex);
        return s.running.endpoint.state == "idle";
    }));
}

TEST(SenderFlow, AFloodWhilePausedIsDroppedAtCapacity) {
    EndpointSettings settings;
    settings.rates = {44100};
    settings.bits = {16};
    Streaming s(settings);
    ASSERT_TRUE(s.sender.send_json(start(1, cd)));
    ASSERT_TRUE(s.sender.send_json(R"({"t":"pause"})"));
    const std::string block = pattern(1 << 20);
    for (int i = 0; i < 64 && s.sender.send_audio(1, block.substr(0, block.size() - 13)); ++i) {
    }
    EXPECT_TRUE(s.running.wait_for_log("sender sends far more than buffer_ms ahead: dropped"));
    EXPECT_TRUE(s.sender.wait_closed());
    std::lock_guard lock(s.running.endpoint.mutex);
    EXPECT_LT(s.running.endpoint.queue.queued_bytes(), s.running.endpoint.capacity() + (1u << 20));
}

TEST(SenderFlow, StartOrEndAtCapacityDropsTheSender) {
    EndpointSettings settings;
    settings.rates = {44100};
    settings.bits = {16};
    Streaming s(settings);
    s.sink.hold_writes(true);  // a stalled device
    ASSERT_TRUE(s.sender.send_json(start(1, cd)));
    ASSERT_TRUE(s.sender.send_json(R"({"t":"pause"})"));
    const std::string block = pattern((1 << 20) - 13);
    const auto capacity = s.running.endpoint.capacity();
    for (std::uint64_t sent = 0; sent < capacity - (1 << 20); sent += block.size()) {
        ASSERT_TRUE(s.sender.send_audio(1, block));
    }
    ASSERT_TRUE(s.sender.send_audio(1, block));
    ASSERT_TRUE(s.sender.send_json(R"({"t":"end","stream":1})"));
    EXPECT_TRUE(s.running.wait_for_log("sender queues far more than buffer_ms: dropped", 10s));
    s.sink.hold_writes(false);
}

TEST(Player, GaplessStreamsOfOneFormatShareTheOutput) {
    Streaming s;
    ASSERT_TRUE(s.sender.send_json(start(1, cd)));
    ASSERT_TRUE(s.sender.send_audio(1, pattern(1000 * 4)));
    ASSERT_TRUE(s.sender.send_json(R"({"t":"end","stream":1})"));
    ASSERT_TRUE(s.sender.send_json(start(2, cd)));
    ASSERT_TRUE(s.sender.send_audio(2, pattern(500 * 4)));
    ASSERT_TRUE(s.sink.wait_for_bytes(1500 * 4));
    const auto calls = s.sink.calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "open pcm/44100/16/2"), 1);
    std::lock_guard lock(s.running.endpoint.mutex);
    const auto& marks = s.running.endpoint.marks;
    ASSERT_EQ(marks.size(), 2u);
    EXPECT_EQ(marks[0].end, 1000);
    EXPECT_EQ(marks[1].start, 1000);
}

TEST(Player, AFormatChangeDrainsOrWhenPausedFlushes) {
    Streaming s;
    ASSERT_TRUE(s.sender.send_json(start(1, cd)));
    ASSERT_TRUE(s.sender.send_audio(1, pattern(400)));
    ASSERT_TRUE(s.sender.send_json(start(2, hires)));
    ASSERT_TRUE(s.sink.wait_for_call("open pcm/96000/24/2"));
    auto calls = s.sink.calls();
    auto at = std::find(calls.begin(), calls.end(), "open pcm/96000/24/2");
    EXPECT_EQ(std::vector<std::string>(at - 3, at),
              (std::vector<std::string>{"gain 0 nan", "drain", "close"}));

    ASSERT_TRUE(s.sender.send_json(R"({"t":"pause"})"));
    ASSERT_TRUE(s.sink.wait_for_call("pause"));
    ASSERT_TRUE(s.sender.send_json(start(3, cd)));
    ASSERT_TRUE(s.sender.send_json(R"({"t":"resume"})"));
    ASSERT_TRUE(s.sink.wait_for(
        [](const auto& c) { return std::count(c.begin(), c.end(), "open pcm/44100/16/2") == 2; }));
    calls = s.sink.calls();
    EXPECT_EQ(std::vector<std::string>(calls.end() - 5, calls.end()),
              (std::vector<std::string>{"gain 0 nan", "resume", "flush", "close",
                                        "open pcm/44100/16/2"}));
}

TEST(Player, ChunksFollowTheRateAndDsdGroups) {
    EndpointSettings settings;
    settings.rates = {50, 44100};
    settings.dsd_rates = {2822400};
    settings.layouts = {"u8", "u32be"};
    Streaming s(settings);
    const struct {
        std::string format;
        std::size_t bytes;
        std::string first_write;
    } cases[] = {
        {R"({"kind":"dsd","rate":2822400,"layout":"u32be"})", 7056 * 2 + 80, "write 7056"},
        {R"({"kind":"dsd","rate":2822400,"layout":"u8"})", 7056 * 2 + 80, "write 7056"},
        {R"({"kind":"pcm","rate":50,"bits":16})", 12, "write 1"},
    };
    std::size_t total = 0;
    int stream = 1;
    for (const auto& c : cases) {
        const auto before = s.sink.calls().size();
        ASSERT_TRUE(s.sender.send_json(start(stream, c.format)));
        ASSERT_TRUE(s.sender.send_audio(stream, pattern(c.bytes)));
        total += c.bytes;
        ASSERT_TRUE(s.sink.wait_for_bytes(total));
        const auto calls = s.sink.calls();
        const auto first =
            std::find_if(calls.begin() + before, calls.end(),
                         [](const std::string& call) { return call.rfind("write", 0) == 0; });
        ASSERT_NE(first, calls.end());
        EXPECT_EQ(*first, c.first_write) << c.format;
        ++stream;
    }
}

TEST(Player, ANinthStreamDropsTheOldestMark) {
    Streaming s;
    for (int stream = 1; stream <= 9; ++stream) {
        ASSERT_TRUE(s.sender.send_json(start(stream, cd)));
        ASSERT_TRUE(s.sender.send_audio(stream, pattern(40)));
        ASSERT_TRUE(s.sender.send_json(R"({"t":"end","stream":)" + std::to_string(stream) + "}"));
    }
    ASSERT_TRUE(s.sink.wait_for_bytes(9 * 40));
    std::lock_guard lock(s.running.endpoint.mutex);
    ASSERT_EQ(s.running.endpoint.marks.size(), 8u);
    EXPECT_EQ(s.running.endpoint.marks.front().stream, 2);
    EXPECT_EQ(s.running.endpoint.marks.back().stream, 9);
}

TEST(Player, IdleOutputClosesAfterThreeSecondsInTheFullCore) {
    Streaming s;
    ASSERT_TRUE(s.sender.send_json(start(1, cd)));
    ASSERT_TRUE(s.sender.send_audio(1, pattern(400)));
    ASSERT_TRUE(s.sender.send_json(R"({"t":"end","stream":1})"));
    ASSERT_TRUE(s.sink.wait_for_bytes(400));
    EXPECT_FALSE(s.sink.wait_for_call("close", 2500ms));
    EXPECT_EQ(s.sink.wait_for_call("close", 3s), full_core);
}

struct VolumeCase {
    const char* message;
    int volume;
    bool muted;
};

TEST(Volume, MessagesClampUnmuteAndReachTheHook) {
    EndpointSettings settings;
    settings.volume_kind = "hardware";
    settings.volume = 50;
    settings.muted = true;
    std::mutex mutex;
    std::vector<std::pair<int, bool>> heard;
    Streaming s(settings, [&](Endpoint& e) {
        e.on_volume = [&](std::int32_t v, bool m) {
            std::lock_guard lock(mutex);
            heard.emplace_back(v, m);
        };
    });
    const VolumeCase cases[] = {
        {R"({"t":"volume"})", 50, true},
        {R"({"t":"volume","value":40})", 40, false},
        {R"({"t":"volume","muted":true})", 40, true},
        {R"({"t":"volume","value":150})", 100, false},
        {R"({"t":"volume","value":-5})", 0, false},
        {R"({"t":"volume","value":"abc","muted":"true"})", 0, true},
    };
    for (const auto& c : cases)
        ASSERT_TRUE(s.sender.send_json(c.message));
    ASSERT_TRUE(s.sender.send_json(R"({"t":"ping"})"));
    ASSERT_TRUE(s.sender.read_message("pong"));
    std::lock_guard lock(mutex);
    ASSERT_EQ(heard.size(), std::size(cases));
    for (std::size_t i = 0; i < heard.size(); ++i) {
        EXPECT_EQ(heard[i], std::make_pair(cases[i].volume, cases[i].muted)) << cases[i].message;
    }
}

TEST(Volume, FixedIgnoresRequestsAndReportsReachTheWelcome) {
    bool called = false;
    Streaming s({}, [&](Endpoint& e) { e.on_volume = [&](std::int32_t, bool) { called = true; }; });
    ASSERT_TRUE(s.sender.send_json(R"({"t":"volume","value":10})"));
    ASSERT_TRUE(s.sender.send_json(R"({"t":"ping"})"));
    ASSERT_TRUE(s.sender.read_message("pong"));
    EXPECT_FALSE(called);
    EXPECT_EQ(s.running.endpoint.volume_state().volume, 100);

    s.running.endpoint.report_volume(35, false);
    EXPECT_EQ(s.sender.read_message("volume"), R"({"t":"volume","value":35,"muted":false})");
    s.sender.close();
    ASSERT_TRUE(s.running.wait_for_log("sender: One"));
    std::string welcome;
    Peer::hello(s.running.port, R"({"t":"hello","proto":1})", &welcome);
    EXPECT_NE(welcome.find(R"("volume":{"kind":"fixed","value":35,"muted":false})"),
              std::string::npos);
}

TEST(Volume, StreamGainIsClampedAndOnlyForPcm) {
    EndpointSettings settings;
    settings.gain = true;
    settings.dsd_rates = {2822400};
    Streaming s(settings);
    ASSERT_TRUE(s.sender.send_json(start(1, cd, R"(,"gain_db":30,"processed":true)")));
    ASSERT_TRUE(s.sink.wait_for_call("gain 1 24"));
    ASSERT_TRUE(s.sender.send_json(start(2, cd, R"(,"gain_db":-100)")));
    ASSERT_TRUE(s.sink.wait_for_call("gain 0 -60"));
    ASSERT_TRUE(
        s.sender.send_json(start(3, R"({"kind":"dsd","rate":2822400})", R"(,"gain_db":-3)")));
    ASSERT_TRUE(s.sink.wait_for(
        [](const auto& c) { return std::count(c.begin(), c.end(), "gain 0 nan") == 1; }));
}

}  // namespace
}  // namespace ondelle

namespace ondelle {
namespace {

TEST(PlayerHooks, StateChangesAndTrackMetadataReachTheProgram) {
    std::mutex mutex;
    std::vector<std::string> events;
    auto note = [&](const std::string& event) {
        std::lock_guard lock(mutex);
        events.push_back(event);
    };
    Streaming s({}, [&](Endpoint& e) {
        e.on_state = [&](const std::string& state) { note("state " + state); };
        e.on_meta = [&](const Track& track, bool processed) {
            note("meta " + track.title + " " + std::to_string(processed));
        };
    });
    ASSERT_TRUE(s.sender.send_json(
        start(1, cd, R"(,"processed":true,"track":{"title":"One","format":{"codec":"flac"}})")));
    ASSERT_TRUE(s.sender.send_audio(1, pattern(400)));
    ASSERT_TRUE(s.sink.wait_for_bytes(400));
    ASSERT_TRUE(s.sender.send_json(R"({"t":"meta","track":{"title":"Two"}})"));
    ASSERT_TRUE(s.sender.send_json(R"({"t":"pause"})"));
    ASSERT_TRUE(s.sink.wait_for_call("pause"));
    ASSERT_TRUE(s.sender.send_json(R"({"t":"stop"})"));
    ASSERT_TRUE(s.sink.wait_for_call("close"));
    const std::vector<std::string> expected = {"state playing", "meta One 1", "meta Two 0",
                                               "state paused", "state idle"};
    EXPECT_TRUE(eventually([&] {
        std::lock_guard lock(mutex);
        return events == expected;
    })) <<
        [&] {
            std::lock_guard lock(mutex);
            std::string all;
            for (const auto& e : events)
                all += e + "; ";
            return all;
        }();
}

}  // namespace
}  // namespace ondelle

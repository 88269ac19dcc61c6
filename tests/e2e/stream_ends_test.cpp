// Both programs as a sender relies on them: every stream it starts is heard whole and told
// "ended" once, in order, however short it is and whatever format follows it; and the
// underrun count moves only while a stream runs dry, not after its end.
#include <gtest/gtest.h>

#include "e2e/program.h"
#include "e2e/wire_audio.h"
#include "helpers/peer.h"
#include "json.h"

namespace ondelle::test {
namespace {

const std::string hello = R"({"t":"hello","proto":2,"sender":{"id":"s1","name":"One"}})";
constexpr int frame_bytes = 4;  // 16-bit stereo, which both outputs below take as it is

struct Output {
    const char* name;
    bool direct;
};

void PrintTo(const Output& output, std::ostream* os) {
    *os << output.name;
}

// One program on an output that plays 16-bit samples as they come, so that what it captured
// is the wire audio itself.
class StreamEnds : public testing::TestWithParam<Output> {
  protected:
    void SetUp() override {
        if (!std::getenv("ONDELLE_PRIVATE_NET"))
            GTEST_SKIP() << "the program advertises: run in the private test namespace";
        capture = dir.path("capture.raw");
        if (GetParam().direct) {
            program = std::make_unique<Program>(
                dir, ONDELLE_DIRECT_PATH, std::vector<std::string>{"--driver", "DAC", "--local"},
                R"({"asio_drivers":[{"name":"DAC","sample_type":16,"speed":2,"capture":")" +
                    capture + "\"}]}",
                true);
            ASSERT_TRUE(program->wait_for_out("\n")) << program->err();
            port = std::atoi(program->out().c_str() + 5);
        } else {
            port = free_port();
            program = std::make_unique<WasapiProgram>(
                dir, std::vector<std::string>{"--port", std::to_string(port)},
                R"({"computer_name":"DEN","render_devices":[{"name":"DAC","default":true,)"
                R"("layouts":["16/16"],"speed":4,"capture":")" +
                    capture + "\"}]}");
            ASSERT_TRUE(program->wait_for_out("Ondelle endpoint")) << program->err();
        }
        sender = std::make_unique<Peer>(Peer::hello(port, hello));
        ASSERT_TRUE(sender->connected());
    }

    // Sends a stream of that many frames and keeps its audio for the capture check.
    void send(int stream, int rate, std::size_t frames) {
        const std::string audio = pattern(frames * frame_bytes, stream);
        ASSERT_TRUE(send_stream(*sender, stream, "pcm", rate, 16, audio, frame_bytes));
        sent.push_back(audio);
    }

    // The "ended" of each stream, in this order, and nothing else ended in between.
    void expect_ended(int first, int last) {
        for (int stream = first; stream <= last; ++stream) {
            const auto ended = sender->read_message("ended", 10s);
            ASSERT_EQ(ended, ended_message(stream)) << program->err();
        }
    }

    // The underrun count of the next status report.
    long next_underruns(std::chrono::milliseconds timeout = 5s) {
        const auto status = sender->read_message("status", timeout);
        if (!status) return -1;
        Json json;
        parse_json(*status, json);
        return long(json.get("underruns").as_int(-1));
    }

    // Every stream sent was captured whole, in order, with nothing but silence around them.
    void expect_captured_in_order() {
        const std::string captured = read_file(capture);
        std::size_t from = 0;
        for (std::size_t i = 0; i < sent.size(); ++i) {
            const auto at = captured.find(sent[i], from);
            ASSERT_NE(at, std::string::npos) << "stream " << i + 1 << " of " << sent.size();
            EXPECT_EQ(captured.substr(from, at - from).find_first_not_of('\0'), std::string::npos)
                << "before stream " << i + 1;
            from = at + sent[i].size();
        }
        EXPECT_EQ(captured.substr(from).find_first_not_of('\0'), std::string::npos);
    }

    TempDir dir;
    std::string capture;
    int port = 0;
    std::unique_ptr<Program> program;
    std::unique_ptr<Peer> sender;
    std::vector<std::string> sent;
};

// Each stream is shorter than what the output waits for before it starts (a device period,
// two half buffers of the driver), or about that; each case opens the output afresh, as its
// rate differs from the stream before it.
TEST_P(StreamEnds, ShortStreamsAreHeardAloneAndBeforeAnotherFormat) {
    int stream = 0;
    int rate = 44100;
    const auto next_rate = [&] { return rate = rate == 44100 ? 48000 : 44100; };
    for (const std::size_t frames : {1, 100, 440, 1000}) {
        SCOPED_TRACE(frames);
        send(++stream, next_rate(), frames);  // alone: nothing follows until it has ended
        expect_ended(stream, stream);
        send(++stream, next_rate(), frames);  // then another format at once
        send(++stream, next_rate(), 2000);
        expect_ended(stream - 1, stream);
    }
    expect_captured_in_order();
}

TEST_P(StreamEnds, AThousandOneFrameStreamsEndInOrder) {
    for (int stream = 1; stream <= 1000; ++stream)
        ASSERT_TRUE(send_stream(*sender, stream, "pcm", 44100, 16, pattern(frame_bytes, stream),
                                frame_bytes));
    expect_ended(1, 1000);
}

TEST_P(StreamEnds, FortyStreamsAlternatingRatesAllEndAndPlayWhole) {
    for (int stream = 1; stream <= 40; ++stream)
        send(stream, stream % 2 ? 44100 : 48000, 1500);
    expect_ended(1, 40);
    expect_captured_in_order();
}

TEST_P(StreamEnds, UnderrunsCountOnlyWhileAStreamRunsDry) {
    send(1, 44100, 4410);
    expect_ended(1, 1);
    // After the end the output may go on with silence: that is no underrun.
    const long after_end = next_underruns();
    ASSERT_GE(after_end, 0);
    const auto until = std::chrono::steady_clock::now() + 3s;
    while (std::chrono::steady_clock::now() < until) {
        const long later = next_underruns(1s);
        if (later >= 0) {
            EXPECT_EQ(later, after_end);
        }
    }
    // A sender that stops sending in the middle of a stream leaves the output dry.
    ASSERT_TRUE(sender->send_json(start_message(2, "pcm", 48000, 16)));
    ASSERT_TRUE(sender->send_audio(2, pattern(4800 * frame_bytes)));
    long dry = after_end;
    for (int i = 0; i < 10 && dry <= after_end; ++i)
        dry = next_underruns();
    EXPECT_GT(dry, after_end) << program->err();
}

INSTANTIATE_TEST_SUITE_P(Programs, StreamEnds,
                         testing::Values(Output{"Wasapi", false}, Output{"Direct", true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ondelle::test

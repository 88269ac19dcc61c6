#include <gtest/gtest.h>

#include "helpers/flac_encoding.h"
#include "helpers/peer.h"
#include "helpers/recording_sink.h"
#include "helpers/running_endpoint.h"

namespace ondelle {
namespace {

using test::Peer;

constexpr const char* hello = R"({"t":"hello","proto":1,"sender":{"id":"phone","name":"Phone"}})";
constexpr const char* flac_start =
    R"({"t":"start","stream":1,"format":{"kind":"pcm","rate":44100,"bits":24,"channels":2,"codec":"flac"}})";

TEST(SenderFlac, DecodedPcmIsPlayedAsIfItWasSent) {
    test::RecordingSink sink;
    test::RunningEndpoint running({}, &sink, [](Endpoint& e) { e.set_flac_mode(2); });
    const auto stream = test::encode_flac(24, 2, 1152, 3);
    auto sender = Peer::hello(running.port, hello);
    ASSERT_TRUE(sender.send_json(flac_start));
    ASSERT_TRUE(sender.send_audio(1, stream.header + stream.frames[0]));
    ASSERT_TRUE(sender.send_audio(1, stream.frames[1]));
    ASSERT_TRUE(sender.send_audio(1, stream.frames[2]));
    const std::string expected = stream.pcm[0] + stream.pcm[1] + stream.pcm[2];
    ASSERT_TRUE(sink.wait_for_bytes(expected.size()));
    const auto played = sink.played();
    EXPECT_EQ(std::string(played.begin(), played.end()), expected);
}

TEST(SenderFlac, AStreamThatDoesNotDecodeDropsTheSenderAndItsFlac) {
    test::RecordingSink sink;
    test::RunningEndpoint running({}, &sink, [](Endpoint& e) { e.set_flac_mode(2); });
    std::string welcome;
    auto sender = Peer::hello(running.port, hello, &welcome);
    EXPECT_NE(welcome.find(R"("codecs":["pcm","flac"])"), std::string::npos);
    ASSERT_TRUE(sender.send_json(flac_start));
    ASSERT_TRUE(sender.send_audio(1, std::string(300, '\x42')));
    EXPECT_TRUE(
        running.wait_for_log("a FLAC stream that does not decode: dropped \xE2\x80\x94 pcm for "
                             "this sender from now on"));
    EXPECT_TRUE(sender.wait_closed());
    Peer::hello(running.port, hello, &welcome);
    EXPECT_NE(welcome.find(R"("codecs":["pcm"])"), std::string::npos);
}

}  // namespace
}  // namespace ondelle

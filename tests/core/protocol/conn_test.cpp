#include <gtest/gtest.h>

#include <sys/socket.h>

#include <thread>

#include "conn.h"
#include "helpers/peer.h"

namespace ondelle {
namespace {

using test::be32;
using test::be64;
using test::frame_header;

// A Conn on the accepted side of a loopback pair, and a raw peer on the other.
struct ConnPair {
    ConnPair() {
        auto [client, server] = test::loopback_pair();
        peer = std::make_unique<test::Peer>(std::move(client));
        conn = std::make_shared<Conn>(server.release(), "127.0.0.1");
    }
    std::unique_ptr<test::Peer> peer;
    std::shared_ptr<Conn> conn;
};

std::string blob_payload(std::uint8_t kind, std::uint32_t stream, const std::string& id,
                         const std::string& mime, std::uint64_t offset, std::uint64_t total,
                         const std::string& data) {
    std::string p(1, static_cast<char>(kind));
    p += be32(stream);
    p += static_cast<char>(id.size() >> 8);
    p += static_cast<char>(id.size() & 0xFF);
    p += id;
    p += static_cast<char>(mime.size());
    p += mime + be64(offset) + be64(total) + data;
    return p;
}

// Raw bytes on the wire, and whether Conn::receive takes them as a whole frame.
struct FramingCase {
    const char* name;
    std::string bytes;
    bool accepted;
};

class ConnFraming : public testing::TestWithParam<FramingCase> {};

TEST_P(ConnFraming, ReceiveAcceptsOrEnds) {
    ConnPair pair;
    // Written from another thread, as a megabyte does not fit the socket buffers; the write
    // side is then shut so that a refused frame cannot leave receive waiting for more.
    std::thread writer([&] {
        pair.peer->send_bytes(GetParam().bytes);
        ::shutdown(pair.peer->fd(), SHUT_WR);
    });
    Message message;
    EXPECT_EQ(pair.conn->receive(message), GetParam().accepted);
    pair.conn->close();
    writer.join();
}

INSTANTIATE_TEST_SUITE_P(
    Frames, ConnFraming,
    testing::Values(
        FramingCase{"EmptyControl", frame_header(1, 1), true},
        FramingCase{"LengthZero", frame_header(0, 1), false},
        FramingCase{"LargestLength", frame_header(1048576, 4) + std::string(1048575, 'x'), true},
        FramingCase{"LengthPastLargest", frame_header(1048577, 4) + std::string(1048576, 'x'),
                    false},
        FramingCase{"AudioWithoutData", frame_header(13, 2) + std::string(12, '\0'), true},
        FramingCase{"AudioHeaderShort", frame_header(12, 2) + std::string(11, '\0'), false},
        FramingCase{"BlobBelowHeader", frame_header(24, 3) + std::string(23, '\0'), false},
        FramingCase{"BlobIdPastEnd",
                    frame_header(30, 3) + blob_payload(3, 1, std::string(10, 'i'), "", 0, 0, ""),
                    false},
        FramingCase{"BlobMimePastEnd",
                    frame_header(28, 3) + blob_payload(3, 1, "ab", "image/png", 0, 0, ""), false},
        FramingCase{"TruncatedPayload", frame_header(100, 1) + std::string(50, ' '), false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Conn, UnknownTypesArePassedUpWithTheirPayload) {
    ConnPair pair;
    for (const std::uint8_t type : {0, 4, 255}) {
        ASSERT_TRUE(pair.peer->send_frame(type, "payload"));
        Message message;
        ASSERT_TRUE(pair.conn->receive(message));
        EXPECT_EQ(message.type, type);
        EXPECT_EQ(message.text, "payload");
        EXPECT_TRUE(message.json.is_null());
    }
}

TEST(Conn, DecodesEveryFrameTypeIntoOneReusedMessage) {
    ConnPair pair;
    Message message;

    ASSERT_TRUE(pair.peer->send_json(R"({"t":"hello","proto":2})"));
    ASSERT_TRUE(pair.conn->receive(message));
    EXPECT_EQ(message.type, Control);
    EXPECT_EQ(message.json.get("proto").as_int(0), 2);

    ASSERT_TRUE(pair.peer->send_audio(7, std::string(4000, 'a'), 0x0102030405060708ull));
    ASSERT_TRUE(pair.conn->receive(message));
    EXPECT_EQ(message.type, Audio);
    EXPECT_TRUE(message.json.is_null());
    EXPECT_TRUE(message.text.empty());
    EXPECT_EQ(message.stream, 7u);
    EXPECT_EQ(message.audio_tag, 0x0102030405060708ull);
    ASSERT_EQ(message.data.size(), 4000u);
    EXPECT_EQ(message.data[3999], 'a');
    const auto capacity = message.data.capacity();
    const auto* storage = message.data.data();

    ASSERT_TRUE(pair.peer->send_frame(
        3, blob_payload(StreamArt, 9, "id", "image/png", 5, 6, std::string(100, 'p'))));
    ASSERT_TRUE(pair.conn->receive(message));
    EXPECT_EQ(message.type, Blob);
    EXPECT_EQ(message.blob_kind, StreamArt);
    EXPECT_EQ(message.stream, 9u);
    EXPECT_EQ(message.blob_id, "id");
    EXPECT_EQ(message.blob_mime, "image/png");
    EXPECT_EQ(message.blob_offset, 5u);
    EXPECT_EQ(message.blob_total, 6u);
    EXPECT_EQ(message.data.size(), 100u);
    // Smaller frames reuse the buffer that a larger one grew.
    EXPECT_EQ(message.data.capacity(), capacity);
    EXPECT_EQ(message.data.data(), storage);

    ASSERT_TRUE(pair.peer->send_json("not json"));
    ASSERT_TRUE(pair.conn->receive(message));
    EXPECT_EQ(message.type, Control);
    EXPECT_TRUE(message.data.empty());
    EXPECT_EQ(message.text, "not json");
}

TEST(Conn, ControlTextLimitIsOneByteBelowTheFrameLimit) {
    ConnPair pair;
    Json largest("");
    largest.text.assign(max_control_text - 2, 'x');  // plus its two quotes
    ASSERT_TRUE(pair.conn->send_json(largest));
    const auto frame = pair.peer->read_frame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->type, Control);
    EXPECT_EQ(frame->payload.size() + 1, max_frame_length);

    largest.text += 'x';
    EXPECT_FALSE(pair.conn->send_json(largest));
    EXPECT_TRUE(pair.conn->send_json(make_message("pong")));  // still usable
    EXPECT_EQ(pair.peer->read_json(), R"({"t":"pong"})");
}

TEST(Conn, SendsBlobFramesPieceByPieceAndRefusesOversizedFields) {
    ConnPair pair;
    EXPECT_FALSE(pair.conn->send_blob(FileData, 0, std::string(65536, 'i'), "", 0, 0, "", 0));
    EXPECT_FALSE(pair.conn->send_blob(LibraryArt, 0, "id", std::string(256, 'm'), 0, 0, "", 0));
    const std::string too_much(max_frame_length - 25 - 2 + 1, 'd');
    EXPECT_FALSE(
        pair.conn->send_blob(FileData, 0, "id", "", 0, 0, too_much.data(), too_much.size()));
    EXPECT_TRUE(pair.peer->stays_silent(std::chrono::milliseconds(50)));

    const std::string data = "bytes";
    ASSERT_TRUE(
        pair.conn->send_blob(LibraryArt, 3, "id", "image/png", 1, ~0ull, data.data(), data.size()));
    const auto frame = pair.peer->read_frame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->type, Blob);
    EXPECT_EQ(frame->payload, blob_payload(LibraryArt, 3, "id", "image/png", 1, ~0ull, data));
}

TEST(Conn, ConcurrentSendersProduceIntactFrames) {
    ConnPair pair;
    constexpr int per_thread = 200;
    auto sender = [&](char letter) {
        Json message = make_message("x");
        message.set("pad", Json(std::string(3000, letter)));
        for (int i = 0; i < per_thread; ++i)
            pair.conn->send_json(message);
    };
    std::thread a(sender, 'a');
    std::thread b(sender, 'b');
    int seen_a = 0, seen_b = 0;
    for (int i = 0; i < 2 * per_thread; ++i) {
        const auto text = pair.peer->read_json();
        ASSERT_TRUE(text);
        Json v;
        ASSERT_TRUE(parse_json(*text, v)) << "interleaved frame";
        const std::string pad = v.get("pad").as_string("");
        ASSERT_EQ(pad.size(), 3000u);
        ASSERT_EQ(pad.find_first_not_of(pad[0]), std::string::npos);
        (pad[0] == 'a' ? seen_a : seen_b)++;
    }
    a.join();
    b.join();
    EXPECT_EQ(seen_a, per_thread);
    EXPECT_EQ(seen_b, per_thread);
}

TEST(Conn, ShutdownWakesABlockedReceive) {
    ConnPair pair;
    std::thread reader([&] {
        Message message;
        EXPECT_FALSE(pair.conn->receive(message));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pair.conn->shutdown();
    reader.join();
    EXPECT_TRUE(pair.conn->is_open());
    EXPECT_FALSE(pair.conn->send_json(make_message("pong")));
}

TEST(Conn, ShutdownWakesASenderStuckOnAPeerThatNeverReads) {
    ConnPair pair;
    test::shrink_buffers(pair.peer->fd());
    std::thread writer([&] {
        const std::string data(1 << 20, 'd');
        while (pair.conn->send_blob(FileData, 0, "", "", 0, 0, data.data(), data.size() - 100)) {
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pair.conn->close();  // shuts down, then waits for the stuck send to let go
    writer.join();
    EXPECT_FALSE(pair.conn->is_open());
}

TEST(Conn, CloseIsIdempotentAndLaterCallsFail) {
    ConnPair pair;
    pair.conn->close();
    pair.conn->close();
    pair.conn->shutdown();
    Message message;
    EXPECT_FALSE(pair.conn->receive(message));
    EXPECT_FALSE(pair.conn->send_json(make_message("pong")));
    EXPECT_TRUE(pair.peer->wait_closed());
}

}  // namespace
}  // namespace ondelle

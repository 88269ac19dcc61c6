// Stream starts, test audio and the capture check.
#include "e2e/wire_audio.h"

#include <gtest/gtest.h>

#include "helpers/peer.h"

namespace ondelle::test {

std::string start_message(int stream, const std::string& kind, int rate, int bits) {
    return R"({"t":"start","stream":)" + std::to_string(stream) + R"(,"format":{"kind":")" + kind +
           R"(","rate":)" + std::to_string(rate) + R"(,"bits":)" + std::to_string(bits) +
           R"(,"channels":2,"codec":"pcm"}})";
}

std::string pattern(std::size_t bytes, int seed) {
    std::string s(bytes, '\0');
    for (std::size_t i = 0; i < bytes; ++i)
        s[i] = static_cast<char>(1 + (i * 37 + std::size_t(seed) + i / 7) % 255);
    return s;
}

bool send_stream(Peer& sender, int stream, const std::string& kind, int rate, int bits,
                 const std::string& audio, int frame_bytes) {
    if (!sender.send_json(start_message(stream, kind, rate, bits))) return false;
    const std::size_t chunk = std::size_t(rate / 50) * frame_bytes / (kind == "dsd" ? 8 : 1);
    for (std::size_t at = 0; at < audio.size(); at += chunk)
        if (!sender.send_audio(stream, audio.substr(at, chunk))) return false;
    return sender.send_json(R"({"t":"end","stream":)" + std::to_string(stream) + "}");
}

std::string ended_message(int stream) {
    return R"({"t":"ended","stream":)" + std::to_string(stream) + "}";
}

void expect_played_alone(const std::string& captured, const std::string& expected, char silence) {
    const auto at = captured.find(expected);
    ASSERT_NE(at, std::string::npos) << "captured " << captured.size() << " bytes";
    EXPECT_EQ(captured.substr(0, at).find_first_not_of(silence), std::string::npos);
    EXPECT_EQ(captured.substr(at + expected.size()).find_first_not_of(silence), std::string::npos);
}

}  // namespace ondelle::test

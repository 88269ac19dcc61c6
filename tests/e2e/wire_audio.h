// What whole-program tests send and expect back: stream starts, recognisable audio, and the
// check that a capture holds the stream once, whole, between silence.
#pragma once

#include <cstddef>
#include <string>

namespace ondelle::test {

class Peer;

// A sender's "start" for a two-channel stream of that kind, rate and depth, as plain PCM.
std::string start_message(int stream, const std::string& kind, int rate, int bits);

// Wire audio without a zero byte, so that it stands out from silence; seeds give different
// audio of the same size.
std::string pattern(std::size_t bytes, int seed = 0);

// Sends a whole stream as a sender does: its start, the audio in 20 ms frames, its end.
// False when a send fails.
bool send_stream(Peer& sender, int stream, const std::string& kind, int rate, int bits,
                 const std::string& audio, int frame_bytes);

// What the endpoint says once that stream has been heard.
std::string ended_message(int stream);

// The audio must appear once and whole in captured, with nothing but silence around it.
void expect_played_alone(const std::string& captured, const std::string& expected,
                         char silence = '\0');

}  // namespace ondelle::test

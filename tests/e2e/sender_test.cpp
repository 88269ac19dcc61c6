// ondelle-send against ondelle-wasapi on a simulated device: files of every kind reach the
// device byte-exact, one format's files join without a gap, and what goes wrong is said with
// its exit code.
#include <gtest/gtest.h>

#include <sndfile.h>

#include <csignal>
#include <cstring>
#include <thread>

#include "e2e/key_timing.h"
#include "e2e/program.h"
#include "e2e/wire_audio.h"
#include "helpers/flac_encoding.h"
#include "helpers/peer.h"

namespace ondelle::test {
namespace {

// A WAV file of wire PCM (little-endian, interleaved stereo) of that depth.
void write_wav(const std::string& path, const std::string& pcm, int rate, int bits) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | (bits == 16   ? SF_FORMAT_PCM_16
                                   : bits == 24 ? SF_FORMAT_PCM_24
                                                : SF_FORMAT_PCM_32);
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    const int bytes = bits / 8;
    std::vector<int> samples(pcm.size() / bytes);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        std::uint32_t v = 0;
        for (int b = 0; b < bytes; ++b)
            v |= std::uint32_t(std::uint8_t(pcm[i * bytes + b])) << (8 * (4 - bytes + b));
        samples[i] = int(v);
    }
    sf_writef_int(file, samples.data(), sf_count_t(samples.size() / 2));
    sf_close(file);
}

std::string le(std::uint64_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i)
        s += char(v >> (8 * i));
    return s;
}

// A stereo DSF file, least significant bit first, of the given wire bytes (L R L R ..., the
// earliest sample in each byte's top bit), in blocks of that many bytes per channel.
std::string write_dsf(const std::string& path, const std::string& wire, int rate,
                      std::size_t block = 4096) {
    const std::size_t per_channel = wire.size() / 2;
    const std::size_t blocks = (per_channel + block - 1) / block;
    std::string data(blocks * block * 2, '\0');
    for (std::size_t t = 0; t < per_channel; ++t) {
        for (int ch = 0; ch < 2; ++ch) {
            std::uint8_t b = std::uint8_t(wire[t * 2 + ch]), r = 0;
            for (int i = 0; i < 8; ++i)
                r = std::uint8_t(r | ((b >> i & 1) << (7 - i)));
            data[(t / block) * block * 2 + ch * block + t % block] = char(r);
        }
    }
    std::string file = "DSD " + le(28, 8) + le(28 + 52 + 12 + data.size(), 8) + le(0, 8);
    file += "fmt " + le(52, 8) + le(1, 4) + le(0, 4) + le(2, 4) + le(2, 4) + le(rate, 4) +
            le(1, 4) + le(per_channel * 8, 8) + le(block, 4) + le(0, 4);
    file += "data" + le(12 + data.size(), 8) + data;
    write_file(path, file);
    return file;
}

// DoP as the simulated device stores 24 valid bits in 32: a zero byte, then the later and
// the earlier DSD byte of the channel, then the marker, 0x05 and 0xFA by turns.
std::string dop32(const std::string& wire) {
    std::string out;
    for (std::size_t frame = 0; frame + 4 <= wire.size(); frame += 4) {
        const char marker = (frame / 4) % 2 == 0 ? '\x05' : '\xFA';
        for (int channel = 0; channel < 2; ++channel) {
            out += '\0';
            out += wire[frame + 2 + channel];
            out += wire[frame + channel];
            out += marker;
        }
    }
    return out;
}

// A FLAC file of the stream, with extra bytes before the frame numbered at (or none), and
// the wire PCM of its frames before that one (all of them without it).
struct FlacFile {
    std::string bytes;
    std::string pcm;
};
FlacFile flac_file(const FlacStream& stream, const std::string& extra = "",
                   std::size_t at = std::size_t(-1)) {
    FlacFile file{stream.header, ""};
    for (std::size_t i = 0; i < stream.frames.size(); ++i) {
        if (i == at) file.bytes += extra;
        file.bytes += stream.frames[i];
        if (i < at) file.pcm += stream.pcm[i];
    }
    if (at == std::size_t(-1)) file.bytes += extra;
    return file;
}

class Sending : public testing::Test {
  protected:
    void SetUp() override {
        if (!std::getenv("ONDELLE_PRIVATE_NET"))
            GTEST_SKIP() << "the programs advertise and browse: run in the private namespace";
    }

    // The device runs at twice real time unless said: a sender that decodes FLAC under the
    // sanitizers on a busy machine may not keep ahead of a faster one, and a byte-exact
    // check would see the silence of its underruns.
    void start(const std::string& device, std::vector<std::string> arguments = {}, int speed = 2) {
        port = free_port();
        capture = dir.path("capture.raw");
        arguments.insert(arguments.end(), {"--port", std::to_string(port)});
        endpoint = std::make_unique<WasapiProgram>(
            dir, arguments,
            R"({"computer_name":"DEN","render_devices":[{"name":"DAC","default":true,"speed":)" +
                std::to_string(speed) + "," + device + R"(,"capture":")" + capture + "\"}]}");
        ASSERT_TRUE(endpoint->wait_for_out("Ondelle endpoint")) << endpoint->err();
    }

    Finished send(std::vector<std::string> arguments) {
        Program sender(dir, ONDELLE_SEND_PATH, std::move(arguments));
        const int code = sender.wait_exit(60s);
        return {code, sender.out(), sender.err()};
    }

    std::string to() const { return "127.0.0.1:" + std::to_string(port); }

    TempDir dir;
    int port = 0;
    std::string capture;
    std::unique_ptr<Program> endpoint;
};

TEST_F(Sending, WavFilesOfEachDepthPlayByteExact) {
    start(R"("rates":[44100],"layouts":["16/16","24/24","32/32"])");
    for (const int bits : {16, 24, 32}) {
        SCOPED_TRACE(std::to_string(bits) + "-bit");
        const std::string pcm = pattern(44100 / 4 * 2 * (bits / 8), bits);
        const std::string file = dir.path("tone" + std::to_string(bits) + ".wav");
        write_wav(file, pcm, 44100, bits);
        write_file(capture, "");
        const auto sent = send({"--to", to(), file});
        ASSERT_EQ(sent.code, 0) << sent.err;
        EXPECT_EQ(sent.out, "1/1 tone" + std::to_string(bits) + ".wav  PCM 44100 Hz " +
                                std::to_string(bits) + "-bit\n");
        EXPECT_NE(read_file(capture).find(pcm), std::string::npos);
    }
}

TEST_F(Sending, TwoFilesOfOneFormatJoinWithoutAGap) {
    start(R"("rates":[48000],"layouts":["16/16"])");
    const std::string first = pattern(48000 / 5 * 4, 1);
    const std::string second = pattern(48000 / 5 * 4, 2);
    write_wav(dir.path("a.wav"), first, 48000, 16);
    write_wav(dir.path("b.wav"), second, 48000, 16);
    const auto sent = send({"--to", to(), dir.path("a.wav"), dir.path("b.wav")});
    ASSERT_EQ(sent.code, 0) << sent.err;
    EXPECT_NE(read_file(capture).find(first + second), std::string::npos);
}

TEST_F(Sending, FlacIsForwardedWhenOfferedAndDecodedOtherwise) {
    const auto [file_bytes, pcm] = flac_file(encode_flac(24, 2, 1152, 8, 44100));
    const std::string file = dir.path("song.flac");
    write_file(file, file_bytes);
    for (const bool offered : {true, false}) {
        SCOPED_TRACE(offered ? "forwarded" : "decoded");
        std::vector<std::string> arguments;
        if (offered) arguments = {"--flac", "all"};
        start(R"("rates":[44100],"layouts":["24/24"])", arguments);
        const auto sent = send({"--to", to(), file});
        ASSERT_EQ(sent.code, 0) << sent.err;
        EXPECT_NE(sent.out.find(offered ? "FLAC 44100 Hz 24-bit" : "PCM 44100 Hz 24-bit"),
                  std::string::npos)
            << sent.out;
        EXPECT_NE(read_file(capture).find(pcm), std::string::npos);
        endpoint->send_signal(SIGINT);
        EXPECT_EQ(endpoint->wait_exit(), 0);
        write_file(capture, "");
    }
}

TEST_F(Sending, DsfPlaysAsDop) {
    start(R"("rates":[176400],"layouts":["24/32"])", {"--dop"});
    std::string wire = pattern(2822400 / 8 / 4 * 2, 5);  // a quarter second, both channels
    write_dsf(dir.path("one.dsf"), wire, 2822400);
    const auto sent = send({"--to", to(), dir.path("one.dsf")});
    ASSERT_EQ(sent.code, 0) << sent.err;
    EXPECT_EQ(sent.out, "1/1 one.dsf  DSD64\n");
    EXPECT_NE(read_file(capture).find(dop32(wire)), std::string::npos);
}

std::string be(std::uint64_t v, int bytes) {
    std::string s;
    for (int i = bytes - 1; i >= 0; --i)
        s += char(v >> (8 * i));
    return s;
}

// A DFF file whose chunk sizes are what the case says: a size near 2^64 once wrapped the
// walk back to where it started.
std::string dff_with(std::uint64_t prop_size, std::uint64_t fs_size) {
    std::string prop = "SND " + std::string("FS  ") + be(fs_size, 8) + be(2822400, 4) + "CHNL" +
                       be(2, 8) + be(2, 2);
    std::string body = "DSD " + std::string("PROP") + be(prop_size, 8) + prop + "DSD " + be(8, 8) +
                       std::string(8, '\x69');
    return "FRM8" + be(body.size(), 8) + body;
}

TEST_F(Sending, BrokenFilesAreRefusedQuicklyWithTheReason) {
    start(R"("rates":[44100],"layouts":["16/16"])", {"--flac", "all"});
    // STREAMINFO says 24 bits where every frame holds 16: bits-per-sample minus one is the
    // fifth bit of byte 12 of STREAMINFO onwards, 8 + 4 bytes into the file.
    const auto flac = encode_flac(16, 2, 1152, 4, 44100);
    std::string deeper = flac.header;
    const std::size_t at = 8 + 12;
    const unsigned depth_field = ((unsigned(std::uint8_t(deeper[at])) & 1u) << 4) |
                                 (unsigned(std::uint8_t(deeper[at + 1])) >> 4);
    ASSERT_EQ(depth_field, 15u) << "16-bit STREAMINFO";
    deeper[at + 1] = char((std::uint8_t(deeper[at + 1]) & 0x0F) | (23u & 0x0F) << 4);
    deeper[at] = char((std::uint8_t(deeper[at]) & 0xFE) | (23u >> 4));
    for (const auto& frame : flac.frames)
        deeper += frame;
    write_file(dir.path("deeper.flac"), deeper);
    write_dsf(dir.path("blocks.dsf"), pattern(2822400 / 8 / 10 * 2, 4), 2822400, 2048);
    write_file(dir.path("wraps.dff"), dff_with(~std::uint64_t(0) - 7, 4));
    write_file(dir.path("wraps-inside.dff"), dff_with(34, ~std::uint64_t(0) - 11));
    // 255 channels at 268 MHz: sized from the header, one payload would take 5 GB.
    write_file(dir.path("huge.wav"),
               std::string("RIFF\x24\x00\x00\x00WAVEfmt \x10\x00\x00\x00\x01\x00\xff\x00"
                           "\xf7\x00\x04\x10\xac\xb1\x02\x00\x04\x00\x10\x00"
                           "data\x00\x00\x00\x00",
                           44));
    const struct {
        const char* file;
        std::string says;
    } cases[] = {
        {"deeper.flac",
         "a frame of 16 bits, 2 channels at 44100 Hz where the stream header "
         "says 24 bits"},
        {"blocks.dsf", "DSF with blocks of 2048 bytes (only 4096 are read)"},
        {"wraps.dff", "a chunk runs past the end of the file"},
        {"wraps-inside.dff", "its properties run past their chunk"},
        {"huge.wav", "not audio this sender reads (255 channels at 268697847 Hz)"},
    };
    for (const auto& c : cases) {
        const auto began = std::chrono::steady_clock::now();
        const auto sent = send({"--to", to(), dir.path(c.file)});
        EXPECT_EQ(sent.code, 7) << c.file << ": " << sent.err;
        EXPECT_NE(sent.err.find(c.says), std::string::npos) << sent.err;
        EXPECT_LT(std::chrono::steady_clock::now() - began, 5s) << c.file;
    }
}

// A tag after the last frame, as many collections have: the audio is whole and plays.
TEST_F(Sending, FlacWithATagAfterTheLastFramePlaysWhole) {
    const auto [file_bytes, pcm] =
        flac_file(encode_flac(16, 2, 1152, 8, 44100), "TAG" + std::string(125, ' '));
    write_file(dir.path("tagged.flac"), file_bytes);
    for (const bool offered : {true, false}) {
        SCOPED_TRACE(offered ? "forwarded" : "decoded");
        std::vector<std::string> arguments;
        if (offered) arguments = {"--flac", "all"};
        start(R"("rates":[44100],"layouts":["16/16"])", arguments, 1);
        const auto sent = send({"--to", to(), dir.path("tagged.flac")});
        EXPECT_EQ(sent.code, 0) << sent.err;
        EXPECT_NE(sent.err.find("tagged.flac: what follows the last FLAC frame was passed over"),
                  std::string::npos)
            << sent.err;
        expect_played_alone(read_file(capture), pcm);
        endpoint->send_signal(SIGINT);
        EXPECT_EQ(endpoint->wait_exit(), 0);
        write_file(capture, "");
    }
}

// Bytes that do not decode in the middle: what came before is heard, then the file fails.
TEST_F(Sending, FlacThatBreaksPartWayIsHeardUpToTheBreak) {
    const auto [file_bytes, before] =
        flac_file(encode_flac(16, 2, 1152, 8, 44100), std::string(300, '\x55'), 4);
    write_file(dir.path("broken.flac"), file_bytes);
    start(R"("rates":[44100],"layouts":["16/16"])", {}, 1);
    const auto sent = send({"--to", to(), dir.path("broken.flac")});
    EXPECT_EQ(sent.code, 7) << sent.err;
    EXPECT_NE(sent.err.find("broken.flac: FLAC does not decode in the middle of the file"),
              std::string::npos)
        << sent.err;
    expect_played_alone(read_file(capture), before);
}

// Files that cannot play are found before the sender takes over: alone they stop nobody's
// music; after a good file they are skipped, and the good file plays whole.
TEST_F(Sending, BadFilesTakeNothingOverAndAreSkipped) {
    start(R"("rates":[44100],"layouts":["16/16"])");
    const std::string good = pattern(44100 / 2 * 4, 6);
    write_wav(dir.path("good.wav"), good, 44100, 16);
    write_wav(dir.path("low.wav"), pattern(22050 / 10 * 4, 3), 22050, 16);
    write_file(dir.path("text.wav"), "not audio at all");
    const struct {
        const char* file;
        int code;
        std::string says;
    } bad[] = {
        {"missing.wav", 7, "missing.wav: No such file or directory"},
        {"text.wav", 7, "text.wav: not audio"},
        {"low.wav", 6, "low.wav: the endpoint does not play PCM 22050 Hz 16-bit"},
    };
    {
        Peer other =
            Peer::hello(port, R"({"t":"hello","proto":2,"sender":{"id":"other","name":"Other"}})");
        ASSERT_TRUE(other.send_json(start_message(1, "pcm", 44100, 16)));
        ASSERT_TRUE(other.send_audio(1, pattern(44100 * 4)));
        for (const auto& c : bad) {
            const auto sent = send({"--to", to(), dir.path(c.file)});
            EXPECT_EQ(sent.code, c.code) << sent.err;
            EXPECT_NE(sent.err.find(c.says), std::string::npos) << sent.err;
        }
        EXPECT_FALSE(other.read_message("stopped", 500ms)) << "someone took over";
    }
    write_file(capture, "");
    std::vector<std::string> arguments = {"--to", to(), dir.path("good.wav")};
    for (const auto& c : bad)
        arguments.push_back(dir.path(c.file));
    const auto sent = send(arguments);
    EXPECT_EQ(sent.code, 11) << sent.err;
    for (const auto& c : bad)
        EXPECT_NE(sent.err.find(c.says), std::string::npos) << sent.err;
    expect_played_alone(read_file(capture), good);
}

// A DAC that goes away: said, with its own exit code, during a stream and at the start; or,
// with --wait-device, waited for, and the file goes on from where it was heard.
TEST_F(Sending, ALostOutputIsSaidOrWaitedFor) {
    start(R"("rates":[44100],"layouts":["16/16"],"removed_after_ms":300,"returns_after_ms":4000)");
    const std::string audio = pattern(44100 * 3 * 4, 8);  // three seconds
    write_wav(dir.path("long.wav"), audio, 44100, 16);
    const std::string gone = "ondelle-send: endpoint: the output device is gone";
    const auto during = send({"--to", to(), dir.path("long.wav")});
    EXPECT_EQ(during.code, 9) << during.err;
    EXPECT_NE(during.err.find(gone + "\n"), std::string::npos) << during.err;
    const auto at_start = send({"--to", to(), dir.path("long.wav")});
    EXPECT_EQ(at_start.code, 9) << at_start.err;
    EXPECT_NE(at_start.err.find(gone + "\n"), std::string::npos) << at_start.err;
    write_file(capture, "");
    const auto waiting = send({"--to", to(), "--wait-device", dir.path("long.wav")});
    EXPECT_EQ(waiting.code, 0) << waiting.err << waiting.out;
    EXPECT_NE(waiting.err.find(gone + "; waiting for it to come back\n"), std::string::npos)
        << waiting.err;
    // Started afresh once the device was back: the end of the file is heard as it is.
    const std::string captured = read_file(capture);
    EXPECT_NE(captured.find(audio.substr(audio.size() / 2)), std::string::npos);
}

// Space, n and q act at once: no more audio is in flight than the endpoint buffers, so a
// key is never queued behind seconds of it (the figures for every kind of file are in
// bench/sender_keys).
TEST_F(Sending, KeysActWithinASecond) {
    start(R"("rates":[44100,48000],"layouts":["16/16"])");
    write_wav(dir.path("first.wav"), pattern(44100 * 4 * 20, 1), 44100, 16);
    write_wav(dir.path("second.wav"), pattern(48000 * 4 * 5, 2), 48000, 16);
    const auto times = measure_keys(dir, *endpoint, capture, to(), dir.path("first.wav"),
                                    dir.path("second.wav"), "PCM 48000 Hz 16-bit");
    ASSERT_TRUE(times) << endpoint->err();
    EXPECT_LT(times->pause_ms, 1000);
    EXPECT_LT(times->next_ms, 1000);
    EXPECT_LT(times->quit_ms, 1000);
}

// Every rate it plays, not a range that hides the gaps; a DSD name that stands for two
// rates says which.
TEST_F(Sending, ListFindsTheEndpointInTheNamespaceWithEveryRate) {
    start(R"("rates":[44100,96000,176400,192000],"layouts":["16/16","24/32"])", {"--dop"});
    const auto listed = send({"--list"});
    ASSERT_EQ(listed.code, 0) << listed.err;
    EXPECT_EQ(listed.out, "DEN \xc2\xb7 DAC  10.77.0.1:" + std::to_string(port) +
                              "  DAC  PCM 44100 96000 176400 192000 Hz at 16/24 bits, "
                              "DSD64 (2.8224 MHz) DSD64 (3.072 MHz)\n");
}

TEST_F(Sending, RefusalsAndAbsencesSayWhyWithTheirExitCodes) {
    start(R"("rates":[44100],"layouts":["16/16"])");
    write_wav(dir.path("low.wav"), pattern(22050 / 10 * 4, 3), 22050, 16);
    write_file(dir.path("text.wav"), "not audio at all");
    const struct {
        std::vector<std::string> arguments;
        int code;
        std::string says;
    } cases[] = {
        {{"--to", to(), dir.path("low.wav")},
         6,
         "low.wav: the endpoint does not play PCM 22050 Hz 16-bit (it plays PCM 44100 Hz at 16 "
         "bits)"},
        {{"--to", to(), dir.path("text.wav")}, 7, "text.wav: not audio"},
        {{"--to", "127.0.0.1:" + std::to_string(free_port()), dir.path("low.wav")},
         4,
         "cannot connect"},
        {{"--to", "Nowhere Room", dir.path("low.wav")}, 3, "no endpoint \"Nowhere Room\" found"},
        {{"--volume", "101", dir.path("low.wav")}, 2, "usage: ondelle-send"},
    };
    for (const auto& c : cases) {
        const auto sent = send(c.arguments);
        EXPECT_EQ(sent.code, c.code) << sent.err;
        EXPECT_NE(sent.err.find(c.says), std::string::npos) << sent.err;
    }
}

TEST_F(Sending, CtrlCEndsTheSessionAndATakeoverEndsTheRun) {
    start(R"("rates":[44100],"layouts":["16/16"])");
    write_wav(dir.path("long.wav"), pattern(44100 * 4 * 8, 9), 44100, 16);  // eight seconds
    {
        Program sender(dir, ONDELLE_SEND_PATH, {"--to", to(), dir.path("long.wav")});
        ASSERT_TRUE(endpoint->wait_for_err("sender: ondelle-send on")) << endpoint->err();
        sender.send_signal(SIGINT);
        EXPECT_EQ(sender.wait_exit(5s), 130) << sender.err();
    }
    Program first(dir, ONDELLE_SEND_PATH, {"--to", to(), dir.path("long.wav")});
    ASSERT_TRUE(endpoint->wait_for_out("Ondelle endpoint"));
    std::this_thread::sleep_for(500ms);
    Program second(dir, ONDELLE_SEND_PATH, {"--to", to(), dir.path("long.wav")});
    EXPECT_EQ(first.wait_exit(10s), 8) << first.err();
    std::this_thread::sleep_for(200ms);  // the second is streaming now
    EXPECT_NE(first.err().find("taken over by another sender"), std::string::npos);
    second.send_signal(SIGINT);
    EXPECT_EQ(second.wait_exit(5s), 130);
}

}  // namespace
}  // namespace ondelle::test

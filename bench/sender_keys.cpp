// How long ondelle-send's keys take to act, from the key to what the endpoint does: space to
// the device's last audio, n to the next file's format opening, q to the sender gone. Run
// against ondelle-wasapi on a simulated device in real time, for each kind of file, inside
// the private namespace: scripts/private-net build/release/bench/sender_keys
#include <cstdio>

#include "e2e/key_timing.h"
#include "e2e/program.h"
#include "helpers/flac_encoding.h"

namespace {

using namespace ondelle::test;

// Audio without a zero byte, different for each seed.
std::string pattern(std::size_t bytes, int seed) {
    std::string s(bytes, '\0');
    for (std::size_t i = 0; i < bytes; ++i)
        s[i] = static_cast<char>(1 + (i * 37 + std::size_t(seed) + i / 7) % 255);
    return s;
}

std::string le(std::uint64_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i)
        s += char(v >> (8 * i));
    return s;
}

std::string wav(int rate, int bits, double seconds) {
    const std::string data =
        pattern(std::size_t(rate * seconds) * 2 * std::size_t(bits / 8), rate + bits);
    return "RIFF" + le(36 + data.size(), 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(2, 2) +
           le(rate, 4) + le(rate * 2 * bits / 8, 4) + le(2 * bits / 8, 2) + le(bits, 2) + "data" +
           le(data.size(), 4) + data;
}

std::string flac(double seconds) {
    const int frames = int(44100 * seconds / 4096);
    const auto stream = encode_flac(16, 2, 4096, frames, 44100);
    std::string file = stream.header;
    for (const auto& frame : stream.frames)
        file += frame;
    return file;
}

std::string dsf(double seconds) {
    constexpr std::size_t block = 4096;
    const std::size_t per_channel = std::size_t(2822400 / 8 * seconds) / block * block;
    const std::string data = pattern(per_channel * 2, 64);
    return "DSD " + le(28, 8) + le(28 + 52 + 12 + data.size(), 8) + le(0, 8) + "fmt " + le(52, 8) +
           le(1, 4) + le(0, 4) + le(2, 4) + le(2, 4) + le(2822400, 4) + le(1, 4) +
           le(per_channel * 8, 8) + le(block, 4) + le(0, 4) + "data" + le(12 + data.size(), 8) +
           data;
}

struct Kind {
    const char* name;
    std::string device;
    std::vector<std::string> arguments;
    std::string file;
    const char* extension;
};

}  // namespace

int main() {
    if (!std::getenv("ONDELLE_PRIVATE_NET")) {
        std::fprintf(stderr, "run inside scripts/private-net: the endpoint advertises\n");
        return 2;
    }
    const std::vector<Kind> kinds = {
        {"PCM 44100 Hz 16-bit",
         R"("rates":[44100,48000],"layouts":["16/16"])",
         {},
         wav(44100, 16, 20),
         "wav"},
        {"PCM 192000 Hz 24-bit",
         R"("rates":[48000,192000],"layouts":["16/16","24/24"])",
         {},
         wav(192000, 24, 20),
         "wav"},
        {"FLAC 44100 Hz 16-bit, forwarded",
         R"("rates":[44100,48000],"layouts":["16/16"])",
         {"--flac", "all"},
         flac(20),
         "flac"},
        {"DSD64 (DSF, as DoP)",
         R"("rates":[48000,176400],"layouts":["16/16","24/32"])",
         {"--dop"},
         dsf(20),
         "dsf"},
    };
    std::printf("%-34s %10s %10s %10s\n", "file", "pause ms", "next ms", "quit ms");
    int failed = 0;
    for (const Kind& kind : kinds) {
        TempDir dir;
        const std::string first = dir.path(std::string("first.") + kind.extension);
        write_file(first, kind.file);
        write_file(dir.path("second.wav"), wav(48000, 16, 5));
        const std::string capture = dir.path("capture.raw");
        auto arguments = kind.arguments;
        const int port = free_port();
        arguments.insert(arguments.end(), {"--port", std::to_string(port)});
        WasapiProgram endpoint(
            dir, arguments,
            R"({"computer_name":"DEN","render_devices":[{"name":"DAC","default":true,)" +
                kind.device + R"(,"capture":")" + capture + "\"}]}");
        if (!endpoint.wait_for_out("Ondelle endpoint")) return 1;
        const auto times = measure_keys(dir, endpoint, capture, "127.0.0.1:" + std::to_string(port),
                                        first, dir.path("second.wav"), "PCM 48000 Hz 16-bit");
        if (!times) {
            std::printf("%-34s did not get through its keys\n", kind.name);
            failed = 1;
            continue;
        }
        std::printf("%-34s %10.0f %10.0f %10.0f\n", kind.name, times->pause_ms, times->next_ms,
                    times->quit_ms);
    }
    return failed;
}

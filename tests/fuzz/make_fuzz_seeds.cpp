// Writes the seed corpora of the fuzz targets from the inputs the tests use: real frames of
// every type, the protocol's messages, and FLAC streams made by libFLAC's encoder.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "helpers/flac_encoding.h"

namespace {

std::string be32(std::uint32_t v) {
    return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

std::string frame(std::uint8_t type, const std::string& payload) {
    return be32(std::uint32_t(payload.size() + 1)) + char(type) + payload;
}

void write(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string little(std::uint64_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i)
        s += char(v >> (8 * i));
    return s;
}

std::string big(std::uint64_t v, int bytes) {
    std::string s;
    for (int i = bytes - 1; i >= 0; --i)
        s += char(v >> (8 * i));
    return s;
}

// Small files of every kind ondelle-send reads, as the readers expect them.
std::string dsf_file(std::size_t blocks) {
    const std::string data(blocks * 4096 * 2, '\x69');
    return "DSD " + little(28, 8) + little(28 + 52 + 12 + data.size(), 8) + little(0, 8) + "fmt " +
           little(52, 8) + little(1, 4) + little(0, 4) + little(2, 4) + little(2, 4) +
           little(2822400, 4) + little(1, 4) + little(blocks * 4096 * 8, 8) + little(4096, 4) +
           little(0, 4) + "data" + little(12 + data.size(), 8) + data;
}

std::string dff_file(std::size_t bytes) {
    const std::string prop = "SND " + std::string("FS  ") + big(4, 8) + big(2822400, 4) + "CHNL" +
                             big(10, 8) + big(2, 2) + "SLFTSRGT" + "CMPR" + big(4, 8) + "DSD ";
    const std::string body = "DSD " + std::string("PROP") + big(prop.size(), 8) + prop + "DSD " +
                             big(bytes, 8) + std::string(bytes, '\x69');
    return "FRM8" + big(body.size(), 8) + body;
}

std::string wav_file(std::size_t frames, int bits) {
    const int bytes = bits / 8;
    std::string data(frames * 2 * std::size_t(bytes), '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = char(i * 37);
    return "RIFF" + little(36 + data.size(), 4) + "WAVEfmt " + little(16, 4) + little(1, 2) +
           little(2, 2) + little(44100, 4) + little(44100 * 2 * bytes, 4) + little(2 * bytes, 2) +
           little(bits, 2) + "data" + little(data.size(), 4) + data;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_seeds DIR\n");
        return 2;
    }
    const std::filesystem::path root = argv[1];
    for (const char* target : {"frames", "json", "flac", "dsd", "flac_file", "pcm_file"})
        std::filesystem::create_directories(root / target);

    const std::vector<std::string> messages = {
        R"({"t":"hello","proto":2,"sender":{"id":"s1","name":"One"},"binary":true})",
        R"({"t":"start","stream":1,"format":{"kind":"pcm","rate":44100,"bits":16,"channels":2,"codec":"pcm"},"track":{"title":"T","artist":"A"}})",
        R"({"t":"start","stream":2,"format":{"kind":"dsd","rate":2822400,"layout":"u8"}})",
        R"({"t":"volume","value":40,"muted":false})",
        R"({"t":"command","id":7,"action":"dsp_eq","bands":[1.5,-2e3,null,true,"\u00e9\ud83c\udfb5"]})",
        R"({"t":"library_read","id":"f1","offset":10,"length":99})",
        R"([{},[],{"a":{"b":{"c":[0,0,0]}}}])",
    };
    for (std::size_t i = 0; i < messages.size(); ++i)
        write(root / "json" / std::to_string(i), messages[i]);

    const std::string audio_header = be32(1) + std::string(8, '\0');
    std::string blob = "\x03" + be32(1) + std::string("\0\0", 2) + "\x0aimage/jpeg" +
                       std::string(16, '\0') + "JFIF";
    write(root / "frames" / "control", frame(1, messages[0]) + frame(1, messages[1]));
    write(root / "frames" / "audio", frame(2, audio_header + std::string(64, '\x11')));
    write(root / "frames" / "empty_audio", frame(2, audio_header));
    write(root / "frames" / "blob", frame(3, blob));
    write(root / "frames" / "unknown_type", frame(4, "xyz") + frame(1, ""));

    int seed = 0;
    for (const int bits : {16, 24, 32}) {
        const auto stream = ondelle::test::encode_flac(bits, 2, 576, 3);
        std::string input(1, char(bits == 16 ? 0 : bits == 24 ? 1 : 2));
        const auto add = [&](const std::string& message) {
            input += char(message.size() >> 8);
            input += char(message.size());
            input += message;
        };
        add(stream.header + stream.frames[0]);
        for (std::size_t i = 1; i < stream.frames.size(); ++i)
            add(stream.frames[i]);
        write(root / "flac" / std::to_string(seed++), input);
        std::string file = stream.header;
        for (const auto& frame : stream.frames)
            file += frame;
        write(root / "flac_file" / std::to_string(bits), file);
    }
    write(root / "dsd" / "dsf", dsf_file(1));
    write(root / "dsd" / "dff", dff_file(64));
    for (const int bits : {16, 24, 32})
        write(root / "pcm_file" / std::to_string(bits), wav_file(32, bits));
    return 0;
}

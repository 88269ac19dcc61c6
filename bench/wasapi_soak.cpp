// A long run of ondelle-wasapi under a changing load: streams in changing formats, pauses,
// flushes, volume changes and takeovers every few seconds, with hostile peers coming and
// going. Each clean stream must reach the simulated device byte-exact; each minute it prints
// resident memory, threads and descriptors, and it fails on growth. It starts the program,
// which advertises: run it inside the private namespace (scripts/soak MINUTES).
#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "e2e/program.h"
#include "helpers/peer.h"

namespace {

using namespace std::chrono;
using namespace ondelle::test;

long descriptors(pid_t pid) {
    long count = 0;
    if (DIR* fds = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
        while (const dirent* entry = readdir(fds))
            count += entry->d_name[0] != '.';
        closedir(fds);
    }
    return count;
}

struct StreamFormat {
    int rate;
    int bits;
};
constexpr StreamFormat formats[] = {{44100, 16}, {96000, 24}, {48000, 32}};

std::string start_message(int stream, const StreamFormat& f) {
    return R"({"t":"start","stream":)" + std::to_string(stream) +
           R"(,"format":{"kind":"pcm","rate":)" + std::to_string(f.rate) + R"(,"bits":)" +
           std::to_string(f.bits) + R"(,"channels":2,"codec":"pcm"}})";
}

std::string audio(const StreamFormat& f, int milliseconds, unsigned seed) {
    std::string s(std::size_t(f.rate) * milliseconds / 1000 * 2 * (f.bits / 8), '\0');
    std::mt19937 random(seed);
    for (auto& byte : s)
        byte = char(1 + random() % 255);
    return s;
}

bool send_audio(Peer& sender, int stream, const std::string& data, const StreamFormat& f) {
    const std::size_t chunk = std::size_t(f.rate / 50) * 2 * (f.bits / 8);
    for (std::size_t at = 0; at < data.size(); at += chunk)
        if (!sender.send_audio(std::uint32_t(stream), data.substr(at, chunk))) return false;
    return true;
}

std::string hello(const std::string& role, const std::string& name) {
    return R"({"t":"hello","proto":2,"role":")" + role + R"(","sender":{"id":")" + name +
           R"(","name":")" + name + R"("}})";
}

// Peers that misbehave, one kind after another, each for a few seconds.
void hostile_peers(int port, const std::atomic<bool>& done) {
    std::mt19937 random(7);
    while (!done.load()) {
        std::vector<Peer> peers;
        switch (random() % 5) {
            case 0:  // silent connections
                for (int i = 0; i < 50; ++i)
                    peers.push_back(Peer::connect(port));
                break;
            case 1:  // headers that announce a megabyte and stall
                for (int i = 0; i < 50; ++i) {
                    peers.push_back(Peer::connect(port));
                    peers.back().send_bytes(frame_header(1048576, 1) + "{");
                }
                break;
            case 2: {  // a megabyte of tiny values
                std::string text = R"({"t":"x","a":[)";
                while (text.size() + 5 <= 1048575)
                    text += "0,";
                peers.push_back(Peer::hello(port, hello("control", "Heavy")));
                peers.back().send_json(text + "0]}");
                break;
            }
            case 3: {  // a control peer that pings and never reads
                peers.push_back(Peer::connect(port));
                shrink_buffers(peers.back().fd());
                peers.back().send_json(hello("control", "Deaf"));
                const std::string ping = frame_header(13, 1) + R"({"t":"ping"})";
                for (int i = 0; i < 2000; ++i)
                    ::send(peers.back().fd(), ping.data(), ping.size(),
                           MSG_NOSIGNAL | MSG_DONTWAIT);
                break;
            }
            default:  // junk frames
                peers.push_back(Peer::connect(port));
                peers.back().send_bytes(std::string("\0\0\0\0\x01garbage", 12));
                break;
        }
        const auto until = steady_clock::now() + seconds(2 + random() % 4);
        while (!done.load() && steady_clock::now() < until)
            std::this_thread::sleep_for(100ms);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("ONDELLE_PRIVATE_NET")) {
        std::fprintf(stderr, "run inside scripts/private-net: the program advertises\n");
        return 2;
    }
    const int minutes = argc > 1 ? std::atoi(argv[1]) : 30;
    TempDir dir;
    const int port = free_port();
    const std::string capture = dir.path("capture.raw");
    WasapiProgram program(dir, {"--port", std::to_string(port)},
                          R"({"render_devices":[{"name":"DAC","default":true,)"
                          R"("rates":[44100,48000,96000],"layouts":["16/16","24/24","32/32"],)"
                          R"("speed":1,"capture":")" +
                              capture + "\"}]}");
    if (!program.wait_for_out("Ondelle endpoint")) return 1;
    std::atomic<bool> done{false};
    std::thread hostile(hostile_peers, port, std::cref(done));

    std::mt19937 random(11);
    int failures = 0;
    int clean_streams = 0;
    long first_rss = -1, first_threads = -1, first_fds = -1;
    long last_rss = 0, last_threads = 0, last_fds = 0;
    const auto start = steady_clock::now();
    auto next_report = start + 60s;
    int stream = 0;
    while (steady_clock::now() - start < minutes * 60s && failures == 0) {
        // A clean stream, checked byte for byte.
        {
            const StreamFormat& f = formats[random() % 3];
            const std::string data = audio(f, 500, unsigned(++stream));
            write_file(capture, "");
            Peer sender = Peer::hello(port, hello("stream", "Soak"));
            const bool sent =
                sender.send_json(start_message(stream, f)) && send_audio(sender, stream, data, f) &&
                sender.send_json(R"({"t":"end","stream":)" + std::to_string(stream) + "}") &&
                sender.read_message("ended", 20s);
            if (!sent || read_file(capture).find(data) == std::string::npos) {
                std::printf("stream %d (%d Hz %d-bit) did not play byte-exact\n", stream, f.rate,
                            f.bits);
                ++failures;
            }
            ++clean_streams;
        }
        // Pause, volume, flush, stop, and a takeover.
        {
            const StreamFormat& f = formats[random() % 3];
            Peer first = Peer::hello(port, hello("stream", "First"));
            first.send_json(start_message(++stream, f));
            send_audio(first, stream, audio(f, 300, unsigned(stream)), f);
            first.send_json(R"({"t":"pause"})");
            first.send_json(R"({"t":"volume","value":)" + std::to_string(random() % 100) + "}");
            first.send_json(R"({"t":"resume"})");
            first.send_json(R"({"t":"flush"})");
            send_audio(first, stream, audio(f, 200, unsigned(stream)), f);
            Peer second = Peer::hello(port, hello("stream", "Second"));
            second.send_json(start_message(++stream, f));
            send_audio(second, stream, audio(f, 200, unsigned(stream)), f);
            second.send_json(R"({"t":"stop"})");
        }
        if (steady_clock::now() >= next_report) {
            next_report += 60s;
            last_rss = proc_status(program.pid(), "VmRSS");
            last_threads = proc_status(program.pid(), "Threads");
            last_fds = descriptors(program.pid());
            if (first_rss < 0) {
                first_rss = last_rss;
                first_threads = last_threads;
                first_fds = last_fds;
            }
            std::printf(
                "minute %ld: RSS %ld KiB, %ld threads, %ld descriptors, %d clean streams\n",
                long(duration_cast<std::chrono::minutes>(steady_clock::now() - start).count()),
                last_rss, last_threads, last_fds, clean_streams);
            std::fflush(stdout);
        }
    }
    done.store(true);
    hostile.join();
    if (program.wait_exit(0ms) != -1) {
        std::printf("the program ended by itself\n");
        ++failures;
    }
    // Growth from the first minute's figures: a little for the allocator's caches, nothing
    // for threads and descriptors beyond the peers that may be connected at that moment.
    if (first_rss >= 0 && last_rss > first_rss + 30 * 1024) {
        std::printf("resident memory grew from %ld to %ld KiB\n", first_rss, last_rss);
        ++failures;
    }
    if (first_threads >= 0 && last_threads > first_threads + 60) {
        std::printf("threads grew from %ld to %ld\n", first_threads, last_threads);
        ++failures;
    }
    if (first_fds >= 0 && last_fds > first_fds + 60) {
        std::printf("descriptors grew from %ld to %ld\n", first_fds, last_fds);
        ++failures;
    }
    program.send_signal(SIGINT);
    if (program.wait_exit(10s) != 0) {
        std::printf("no clean exit on SIGINT\n");
        ++failures;
    }
    std::printf("%s: %d clean streams byte-exact, %d failures\n", failures ? "FAILED" : "passed",
                clean_streams, failures);
    return failures ? 1 : 0;
}

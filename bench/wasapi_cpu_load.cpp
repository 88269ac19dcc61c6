// How much of one core ondelle-wasapi uses: idle, then while a sender streams 192 kHz 24-bit
// stereo in real time to the simulated device. Starts the program itself; it advertises, so
// run this only inside the private namespace:
//   scripts/private-net build/release/bench/wasapi_cpu_load [STREAM_SECONDS [IDLE_SECONDS]]
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "e2e/program.h"
#include "helpers/peer.h"

namespace {

using namespace std::chrono;
using namespace ondelle::test;

// User plus system time of the process, in seconds.
double cpu_seconds(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("ONDELLE_PRIVATE_NET")) {
        std::fprintf(stderr, "run inside scripts/private-net: the program advertises\n");
        return 2;
    }
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    const int idle_seconds = argc > 2 ? std::atoi(argv[2]) : 10;
    TempDir dir;
    const int port = free_port();
    WasapiProgram program(dir, {"--port", std::to_string(port)});
    if (!program.wait_for_out("Ondelle endpoint")) return 1;

    const double idle_start = cpu_seconds(program.pid());
    std::this_thread::sleep_for(std::chrono::seconds(idle_seconds));
    const double idle = cpu_seconds(program.pid()) - idle_start;
    std::printf("idle: %.2f s of CPU in %d s (%.2f %%)\n", idle, idle_seconds,
                100 * idle / idle_seconds);

    Peer sender =
        Peer::hello(port, R"({"t":"hello","proto":2,"sender":{"id":"load","name":"Load"}})");
    sender.send_json(
        R"({"t":"start","stream":1,"format":{"kind":"pcm","rate":192000,"bits":24,"channels":2,"codec":"pcm"}})");
    std::string chunk(192000 / 50 * 6, '\0');
    for (std::size_t i = 0; i < chunk.size(); ++i)
        chunk[i] = char(i * 13);
    // The endpoint queues the buffer time plus two seconds ahead and then takes audio at
    // the device's pace, so the sender can simply keep sending.
    const auto warm_up_end = steady_clock::now() + 4s;
    while (steady_clock::now() < warm_up_end)
        sender.send_audio(1, chunk);
    const double start = cpu_seconds(program.pid());
    const auto measured_from = steady_clock::now();
    const auto end = measured_from + std::chrono::seconds(seconds);
    while (steady_clock::now() < end)
        sender.send_audio(1, chunk);
    const double used = cpu_seconds(program.pid()) - start;
    const double wall = duration<double>(steady_clock::now() - measured_from).count();
    std::printf("streaming 192 kHz 24-bit: %.2f s of CPU in %.1f s (%.2f %% of one core)\n", used,
                wall, 100 * used / wall);
    program.send_signal(SIGINT);
    return program.wait_exit() == 0 ? 0 : 1;
}

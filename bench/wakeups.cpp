// How often each thread of the two programs wakes, how much CPU it takes and how often it
// allocates, while a sender streams in real time to the simulated output: 48 kHz 16-bit,
// 192 kHz 24-bit, 768 kHz 32-bit and DSD256. The simulated device's and driver's own threads
// are shown apart (on Windows they are the audio engine's and the driver's). Wake-ups are the
// voluntary context switches the kernel counts; allocations are counted by alloc_count.so,
// preloaded into the program. It advertises, so run it inside the private namespace:
//   scripts/private-net build/release/bench/wakeups [SECONDS]
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <dirent.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/program.h"
#include "helpers/peer.h"

namespace {

using namespace std::chrono;
using namespace ondelle::test;

struct ThreadSample {
    std::string name;
    long long wakeups = 0;
    long long cpu_ticks = 0;
    long long allocations = 0;
};

std::string read_text(const std::string& path) {
    std::ifstream file(path);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// Every thread of the process by id, with the allocation counts of the shared table.
std::map<long, ThreadSample> sample(pid_t pid, const long long* counts) {
    std::map<long, ThreadSample> threads;
    const std::string task = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(task.c_str());
    if (!dir) return threads;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        const long tid = std::atol(entry->d_name);
        const std::string base = task + "/" + entry->d_name;
        ThreadSample& t = threads[tid];
        t.name = read_text(base + "/comm");
        if (!t.name.empty() && t.name.back() == '\n') t.name.pop_back();
        std::istringstream status(read_text(base + "/status"));
        for (std::string line; std::getline(status, line);)
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
                t.wakeups = std::atoll(line.c_str() + 24);
        const std::string stat = read_text(base + "/stat");
        std::istringstream fields(stat.substr(stat.rfind(')') + 2));
        std::string field;
        for (int i = 3; i <= 15 && fields >> field; ++i)
            if (i == 14 || i == 15) t.cpu_ticks += std::atoll(field.c_str());
    }
    closedir(dir);
    for (int slot = 0; slot < 1024; ++slot)
        if (counts[slot * 2] != 0 && threads.count(long(counts[slot * 2])))
            threads[long(counts[slot * 2])].allocations = counts[slot * 2 + 1];
    return threads;
}

bool simulated(const std::string& name) {
    return name.rfind("sim ", 0) == 0 || name == "asio sim driver";
}

struct Case {
    const char* name;
    std::string format;  // the "format" of the sender's start
    int frame_bytes;     // wire bytes a frame
    int frames_per_second;
};

struct Counts {
    double own_wakeups = 0;
    double floor = 0;
};

// Runs one program on one format and prints its threads; the program's own wake-ups a second.
Counts measure(bool direct, const Case& c, int seconds, const std::string& counts_path) {
    TempDir dir;
    int fd = open(counts_path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ftruncate(fd, 1024 * 16);
    auto* counts = static_cast<long long*>(
        mmap(nullptr, 1024 * 16, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
    close(fd);
    setenv("LD_PRELOAD", ONDELLE_ALLOC_COUNT_PATH, 1);
    setenv("ONDELLE_ALLOC_COUNTS", counts_path.c_str(), 1);
    std::unique_ptr<Program> program;
    int port = 0;
    if (direct) {
        program = std::make_unique<Program>(
            dir, ONDELLE_DIRECT_PATH, std::vector<std::string>{"--driver", "DAC", "--local"},
            R"({"asio_drivers":[{"name":"DAC","dsd":true}]})", true);
        if (program->wait_for_out("\n")) port = std::atoi(program->out().c_str() + 5);
    } else {
        port = free_port();
        program = std::make_unique<WasapiProgram>(
            dir, std::vector<std::string>{"--port", std::to_string(port), "--dop"},
            R"({"computer_name":"DEN","render_devices":[{"name":"DAC","default":true,)"
            R"("layouts":["16/16","24/24","32/32","24/32"]}]})");
        if (!program->wait_for_out("Ondelle endpoint")) port = 0;
    }
    unsetenv("LD_PRELOAD");
    unsetenv("ONDELLE_ALLOC_COUNTS");
    Counts result;
    if (port == 0) {
        std::printf("  %s: did not start\n", direct ? "Ondelle-Direct" : "ondelle-wasapi");
        munmap(counts, 1024 * 16);
        return result;
    }
    std::string welcome_text;
    Peer sender = Peer::hello(
        port, R"({"t":"hello","proto":2,"sender":{"id":"load","name":"Load"}})", &welcome_text);
    ondelle::Json welcome;
    ondelle::parse_json(welcome_text, welcome);
    sender.send_json(R"({"t":"start","stream":1,"format":)" + c.format + "}");
    std::string chunk(std::size_t(c.frames_per_second / 50 * c.frame_bytes), '\0');
    for (std::size_t i = 0; i < chunk.size(); ++i)
        chunk[i] = char(i * 13 + 1);
    // As a sender does: what the endpoint buffers and a second more at once, then one 20 ms
    // frame every 20 ms.
    const auto ahead = welcome.get("buffer_ms").as_int(2000) + 1000;
    for (std::int64_t i = 0; i < ahead / 20; ++i)
        sender.send_audio(1, chunk);
    auto next = steady_clock::now();
    const auto stream_for = [&](steady_clock::duration how_long) {
        const auto end = steady_clock::now() + how_long;
        while (steady_clock::now() < end) {
            next += 20ms;
            std::this_thread::sleep_until(next);
            sender.send_audio(1, chunk);
        }
    };
    stream_for(3s);
    const auto before = sample(program->pid(), counts);
    const auto from = steady_clock::now();
    stream_for(std::chrono::seconds(seconds));
    const auto after = sample(program->pid(), counts);
    const double wall = duration<double>(steady_clock::now() - from).count();
    const double ticks = double(sysconf(_SC_CLK_TCK));

    result.floor = direct ? 54 : 152;
    double sim_wakeups = 0;
    std::printf("  %s, %s\n", direct ? "Ondelle-Direct" : "ondelle-wasapi", c.name);
    for (const auto& [tid, t] : after) {
        const auto was = before.find(tid);
        const ThreadSample zero;
        const ThreadSample& b = was == before.end() ? zero : was->second;
        const double wakeups = double(t.wakeups - b.wakeups) / wall;
        const double cpu = 100.0 * double(t.cpu_ticks - b.cpu_ticks) / ticks / wall;
        const double allocations = double(t.allocations - b.allocations) / wall;
        if (simulated(t.name))
            sim_wakeups += wakeups;
        else
            result.own_wakeups += wakeups;
        std::printf("    %-18s %8.1f wake-ups/s %6.2f %% CPU %8.1f allocations/s%s\n",
                    t.name.c_str(), wakeups, cpu, allocations,
                    simulated(t.name) ? "  (simulated output)" : "");
    }
    std::printf("    own: %.0f wake-ups/s, floor %.0f, %.2f x the floor; simulated output %.0f\n",
                result.own_wakeups, result.floor, result.own_wakeups / result.floor, sim_wakeups);
    program->send_signal(SIGINT);
    if (direct) program->close_input();
    program->wait_exit();
    munmap(counts, 1024 * 16);
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("ONDELLE_PRIVATE_NET")) {
        std::fprintf(stderr, "run inside scripts/private-net: the program advertises\n");
        return 2;
    }
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    TempDir dir;
    const std::string counts_path = dir.path("allocations");
    const std::vector<Case> cases = {
        {"48 kHz 16-bit", R"({"kind":"pcm","rate":48000,"bits":16,"channels":2})", 4, 48000},
        {"192 kHz 24-bit", R"({"kind":"pcm","rate":192000,"bits":24,"channels":2})", 6, 192000},
        {"768 kHz 32-bit", R"({"kind":"pcm","rate":768000,"bits":32,"channels":2})", 8, 768000},
        {"DSD256", R"({"kind":"dsd","rate":11289600,"layout":"u8","channels":2})", 2, 11289600 / 8},
    };
    std::printf("%-16s %28s %28s\n", "", "ondelle-wasapi own/s (x floor)",
                "Ondelle-Direct own/s (x floor)");
    std::vector<std::string> rows;
    for (const Case& c : cases) {
        const Counts wasapi = measure(false, c, seconds, counts_path);
        const Counts direct = measure(true, c, seconds, counts_path);
        char row[160];
        std::snprintf(row, sizeof row, "%-16s %20.0f (%4.2f) %20.0f (%4.2f)", c.name,
                      wasapi.own_wakeups, wasapi.own_wakeups / wasapi.floor, direct.own_wakeups,
                      direct.own_wakeups / direct.floor);
        rows.push_back(row);
    }
    std::printf("\n%-16s %28s %28s\n", "", "ondelle-wasapi own/s (x floor)",
                "Ondelle-Direct own/s (x floor)");
    for (const auto& row : rows)
        std::printf("%s\n", row.c_str());
    return 0;
}

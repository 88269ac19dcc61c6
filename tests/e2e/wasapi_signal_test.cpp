// Console signals that land on any thread at any moment, while streams start and stop and
// peers come and go: each one stops the program with exit code 0 within a second.
#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <dirent.h>
#include <atomic>
#include <csignal>
#include <random>
#include <thread>
#include <vector>

#include "e2e/program.h"
#include "helpers/peer.h"

namespace ondelle::test {
namespace {

const std::string hello = R"({"t":"hello","proto":2,"sender":{"id":"s1","name":"One"}})";
const std::string start_cd = R"({"kind":"pcm","rate":44100,"bits":16,"channels":2,"codec":"pcm"})";

// The program's threads but the one that waits for console signals: it blocks them, and a
// signal aimed at it alone (which a console never sends) would stay pending.
std::vector<pid_t> threads_of(pid_t pid) {
    std::vector<pid_t> threads;
    const std::string tasks_path = "/proc/" + std::to_string(pid) + "/task";
    DIR* tasks = opendir(tasks_path.c_str());
    if (!tasks) return threads;
    while (const dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] == '.') continue;
        const std::string name = read_file(tasks_path + "/" + entry->d_name + "/comm");
        if (name.rfind("console signals", 0) != 0)
            threads.push_back(pid_t(std::atoi(entry->d_name)));
    }
    closedir(tasks);
    return threads;
}

// Streams short streams, stops them and reconnects, until told to end or the endpoint goes.
void keep_streaming(int port, const std::atomic<bool>& done) {
    const std::string audio(44100 / 50 * 4, '\x11');
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    for (int stream = 1; !done.load() && std::chrono::steady_clock::now() < deadline; ++stream) {
        Peer sender = Peer::connect(port);
        if (!sender.connected() || !sender.send_json(hello)) return;
        for (int round = 0; round < 5 && !done.load(); ++round, ++stream) {
            bool ok = sender.send_json(R"({"t":"start","stream":)" + std::to_string(stream) +
                                       R"(,"format":)" + start_cd + "}");
            for (int i = 0; ok && i < 5; ++i)
                ok = sender.send_audio(std::uint32_t(stream), audio);
            ok = ok && sender.send_json(round % 2 ? R"({"t":"stop"})" : R"({"t":"flush"})");
            if (!ok) return;
        }
    }
}

// Control peers arrive and leave, so that broadcasts and session threads come and go.
void keep_visiting(int port, const std::atomic<bool>& done) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!done.load() && std::chrono::steady_clock::now() < deadline) {
        // Connected first: a hello to a port nobody listens on would wait for its welcome.
        Peer control = Peer::connect(port);
        if (!control.connected()) return;
        control.send_json(R"({"t":"hello","proto":2,"role":"control"})");
        control.send_json(R"({"t":"ping"})");
        control.read_message("pong", 1s);
    }
}

TEST(ConsoleSignal, OnAnyThreadAtAnyMomentStopsWithExitZero) {
    if (!std::getenv("ONDELLE_PRIVATE_NET"))
        GTEST_SKIP() << "the program advertises: run in the private test namespace";
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    SCOPED_TRACE("seed " + std::to_string(seed));
    for (int run = 0; run < 4; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        TempDir dir;
        const int port = free_port();
        WasapiProgram program(dir, {"--port", std::to_string(port)},
                              R"({"render_devices":[{"name":"DAC","default":true,"speed":8}]})");
        ASSERT_TRUE(program.wait_for_out("Ondelle endpoint")) << program.err();
        std::atomic<bool> done{false};
        std::thread streamer(keep_streaming, port, std::cref(done));
        std::thread visitor(keep_visiting, port, std::cref(done));

        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::uniform_int_distribution<int>(50, 600)(random)));
        // A few signals, each to a thread picked at random: the player or a session may hold
        // the player lock just then. A thread may end between the listing and the signal
        // (sessions come and go): only signals that reached a thread count.
        const int signals = std::uniform_int_distribution<int>(1, 4)(random);
        int delivered = 0;
        for (int attempt = 0; delivered < signals && attempt < 100; ++attempt) {
            const auto threads = threads_of(program.pid());
            if (threads.empty()) break;
            const pid_t thread =
                threads[std::uniform_int_distribution<std::size_t>(0, threads.size() - 1)(random)];
#if defined(__SANITIZE_THREAD__)
            // ThreadSanitizer runs a handler only when the thread it was aimed at next enters
            // one of its interceptors, which a thread parked in a condition wait may never do:
            // there the signal goes to the process, as a console's does.
            (void)thread;
            if (kill(program.pid(), SIGINT) == 0) ++delivered;
#else
            if (syscall(SYS_tgkill, program.pid(), thread, SIGINT) == 0) ++delivered;
#endif
            std::this_thread::sleep_for(
                std::chrono::microseconds(std::uniform_int_distribution<int>(0, 2000)(random)));
        }
        // Generous: under a sanitizer, on a busy machine, taking it all down takes a while.
        const int code = program.wait_exit(10s);
        done.store(true);
        streamer.join();
        visitor.join();
        ASSERT_GT(delivered, 0);
        ASSERT_EQ(code, 0) << "after " << delivered << " signals\n" << program.err();
    }
}

}  // namespace
}  // namespace ondelle::test

// Streaming throughput: a sender on loopback streams 768 kHz 32-bit stereo PCM as fast as
// flow control lets it into an endpoint whose sink takes everything at once; in the same
// run the same bytes go through a bare loopback TCP pair into nothing. Also counts heap
// allocations per Audio frame in steady streaming (every thread of the process).
#include <benchmark/benchmark.h>

#include <sys/socket.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

#include "helpers/loopback.h"
#include "helpers/peer.h"
#include "helpers/running_endpoint.h"
#include "sink.h"

namespace {

std::atomic<bool> counting{false};
std::atomic<std::uint64_t> allocations{0};

}  // namespace

void* operator new(std::size_t size) {
    if (counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

using namespace ondelle;

constexpr std::size_t frame_payload = 768000 / 50 * 8;  // 20 ms of 768 kHz 32-bit stereo
constexpr std::size_t frames_per_iteration = 512;       // 60 MiB

class InstantSink : public Sink {
  public:
    bool open(const Format& format, std::string&) override {
        frame_bytes_ = static_cast<std::uint64_t>(format.frame_bytes());
        return true;
    }
    std::uint64_t write(const std::uint8_t*, std::uint64_t frames) override {
        if (pace.count() > 0) std::this_thread::sleep_for(pace);
        bytes.fetch_add(frames * frame_bytes_, std::memory_order_release);
        return frames;
    }
    void pause(bool) override {}
    void flush() override {}
    void drain() override {}
    void close() override {}
    std::int64_t delay() override { return 0; }
    std::uint64_t underruns() override { return 0; }

    std::atomic<std::uint64_t> bytes{0};
    std::chrono::microseconds pace{0};  // time each 20 ms chunk takes to play

  private:
    std::uint64_t frame_bytes_ = 8;
};

std::string audio_frame(std::uint32_t stream) {
    std::string frame = test::frame_header(static_cast<std::uint32_t>(frame_payload + 13), 2) +
                        test::be32(stream) + test::be64(0) + std::string(frame_payload, '\x11');
    return frame;
}

bool send_all(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void endpoint_stream(benchmark::State& state) {
    EndpointSettings settings;
    settings.rates = {768000};
    settings.bits = {32};
    InstantSink sink;
    sink.pace = std::chrono::microseconds(state.range(0));
    test::RunningEndpoint running(settings, &sink);
    test::Peer sender = test::Peer::hello(running.port, R"({"t":"hello","proto":2})");
    sender.send_json(
        R"({"t":"start","stream":1,"format":{"kind":"pcm","rate":768000,"bits":32,"channels":2}})");
    const std::string frame = audio_frame(1);
    // Warm up until buffers recycle; with a paced sink, until the queue is full as well.
    const std::size_t warm_up = state.range(0) > 0 ? 400 : 64;
    for (std::size_t i = 0; i < warm_up; ++i)
        send_all(sender.fd(), frame);
    std::uint64_t target = warm_up * frame_payload;
    if (state.range(0) == 0) {
        while (sink.bytes.load() < target)
            std::this_thread::yield();
    }

    std::uint64_t frames = 0;
    allocations = 0;
    for (auto _ : state) {
        counting = true;
        for (std::size_t i = 0; i < frames_per_iteration; ++i)
            send_all(sender.fd(), frame);
        target += frames_per_iteration * frame_payload;
        // Throughput waits for the sink to take everything; steady streaming keeps the
        // queue full and lets flow control pace the sender.
        if (state.range(0) == 0) {
            while (sink.bytes.load(std::memory_order_acquire) < target)
                std::this_thread::yield();
        }
        counting = false;
        frames += frames_per_iteration;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(frames * (frame_payload + 17)));
    state.counters["allocs_per_frame"] =
        static_cast<double>(allocations.load()) / static_cast<double>(frames);
}

void bare_socket(benchmark::State& state) {
    auto [client, server] = test::loopback_pair();
    std::atomic<std::uint64_t> received{0};
    std::thread reader([fd = server.get(), &received] {
        std::vector<char> buffer(1 << 20);
        for (;;) {
            const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
            if (n <= 0) return;
            received.fetch_add(static_cast<std::uint64_t>(n), std::memory_order_release);
        }
    });
    const std::string frame = audio_frame(1);
    std::uint64_t target = 0;
    std::uint64_t frames = 0;
    for (auto _ : state) {
        for (std::size_t i = 0; i < frames_per_iteration; ++i)
            send_all(client.get(), frame);
        target += frames_per_iteration * frame.size();
        while (received.load(std::memory_order_acquire) < target)
            std::this_thread::yield();
        frames += frames_per_iteration;
    }
    ::shutdown(client.get(), SHUT_RDWR);
    reader.join();
    state.SetBytesProcessed(static_cast<std::int64_t>(frames * frame.size()));
}

// Argument: microseconds each 20 ms chunk takes to play; 0 takes it at once (throughput),
// 1000 plays 20 times faster than real time with the queue full (steady streaming).
BENCHMARK(endpoint_stream)
    ->Arg(0)
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK(bare_socket)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();

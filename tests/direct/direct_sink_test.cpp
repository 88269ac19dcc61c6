// The driver thread and DirectSink in this process, on a simulated ASIO driver: work carried
// to the driver thread, arming at two half buffers, the ring's size, flush and delay, and a
// write that waits while paused.
#include "direct_sink.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

#include "asio.h"
#include "driver_list.h"
#include "win/event_handle.h"

namespace ondelle::direct {
namespace {

using namespace std::chrono_literals;

Format pcm(int rate, int bits) {
    Format format;
    format.rate = rate;
    format.bits = bits;
    return format;
}

std::string read_text(const std::filesystem::path& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// One simulated driver, its thread running and the capabilities it reported.
class DirectSinkTest : public testing::Test {
  protected:
    void SetUp() override {
        folder = std::filesystem::temp_directory_path() /
                 ("ondelle-direct-" + std::to_string(::getpid()) + "-" +
                  testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder);
        log = folder / "driver.log";
        std::ofstream(folder / "sim.json")
            << R"({"asio_drivers":[{"name":"DAC","output_latency":1024,"log":")" << log.string()
            << R"("}]})";
        ::setenv("ONDELLE_SIM", (folder / "sim.json").c_str(), 1);
        const auto drivers = registered_drivers();
        ASSERT_TRUE(drivers && drivers->size() == 1);
        asio = std::make_unique<Asio>(drivers->front(), data_event.get(), true);
        current_asio = asio.get();
        asio->start_thread();
        std::string error;
        caps = asio->call([&] { return asio->query_caps(error); });
        ASSERT_FALSE(caps.rates.empty()) << error;
        sink = std::make_unique<DirectSink>(asio.get(), caps);
    }

    void TearDown() override {
        if (sink) sink->close();
        sink.reset();
        if (asio) asio->stop_thread();
        current_asio = nullptr;
        asio.reset();
        ::unsetenv("ONDELLE_SIM");
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    bool driver_started() const { return read_text(log).find("\nstart\n") != std::string::npos; }

    std::uint64_t write_frames(std::uint64_t frames) {
        const std::vector<std::uint8_t> audio(frames * 4, 0x11);
        return sink->write(audio.data(), frames);
    }

    std::filesystem::path folder;
    std::filesystem::path log;
    EventHandle data_event = EventHandle::create_auto_reset();
    std::unique_ptr<Asio> asio;
    Caps caps;
    std::unique_ptr<DirectSink> sink;
};

TEST_F(DirectSinkTest, WorkRunsOnTheDriverThreadAndNestedWorkRunsAtOnce) {
    const auto caller = std::this_thread::get_id();
    const auto [outer, inner] = asio->call([&] {
        const auto here = std::this_thread::get_id();
        return std::pair{here, asio->call([] { return std::this_thread::get_id(); })};
    });
    EXPECT_NE(outer, caller);
    EXPECT_EQ(inner, outer);
    EXPECT_THROW(asio->call([]() -> int { throw std::runtime_error("driver said no"); }),
                 std::runtime_error);
    EXPECT_EQ(asio->call([] { return 5; }), 5);
}

TEST_F(DirectSinkTest, StartsTheDriverOnlyOnceTwoHalfBuffersWait) {
    std::string error;
    ASSERT_TRUE(sink->open(pcm(44100, 16), error)) << error;
    EXPECT_EQ(asio->ring.size(), 88200u);  // 250 ms at 44100 Hz, more than four half buffers
    EXPECT_EQ(write_frames(1023), 1023u);
    EXPECT_FALSE(asio->armed);
    EXPECT_FALSE(driver_started());
    EXPECT_EQ(sink->delay(), 1023);
    EXPECT_EQ(write_frames(1), 1u);
    EXPECT_TRUE(asio->armed);
    EXPECT_TRUE(driver_started());
    // The sender stops here, in the middle of its stream: the driver runs dry.
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (sink->delay() != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(sink->delay(), 0);
    while (sink->underruns() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    EXPECT_GT(sink->underruns(), 0u);

    sink->close();
    EXPECT_EQ(sink->delay(), 0);
    ASSERT_TRUE(sink->open(pcm(44100, 16), error));
    EXPECT_EQ(sink->underruns(), 0u);
}

// Less than the two half buffers that start the driver, and nothing more coming: the driver
// starts with what there is, it is heard, and the silence after it is no underrun.
TEST_F(DirectSinkTest, AStreamShorterThanTwoHalfBuffersIsPlayedOut) {
    std::string error;
    ASSERT_TRUE(sink->open(pcm(44100, 16), error)) << error;
    EXPECT_EQ(write_frames(100), 100u);
    EXPECT_FALSE(asio->armed);
    sink->drain();
    EXPECT_TRUE(driver_started());
    EXPECT_EQ(sink->delay(), 0);
    const std::uint64_t switches = asio->callback_count;
    while (asio->callback_count < switches + 10)
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(sink->underruns(), 0u);
}

TEST_F(DirectSinkTest, FlushWhileRunningEmptiesTheDelayWithinTheLatencySwitches) {
    std::string error;
    ASSERT_TRUE(sink->open(pcm(48000, 16), error)) << error;
    auto writer = std::async(std::launch::async, [&] { return write_frames(48000); });
    std::this_thread::sleep_for(300ms);
    sink->flush();
    EXPECT_EQ(writer.get(), 48000u);  // the writer goes on filling the ring after the flush
    sink->flush();
    const std::uint64_t after_second_flush = asio->callback_count;
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (sink->delay() != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(sink->delay(), 0);
    // k = 2 half buffers of latency: the three most recent switches are counted, no more.
    EXPECT_LE(asio->callback_count - after_second_flush, 4u);
}

TEST_F(DirectSinkTest, APausedFullRingWaitsWithoutTheStallCheckUntilClosed) {
    std::string error;
    ASSERT_TRUE(sink->open(pcm(44100, 16), error)) << error;
    sink->pause(true);
    testing::internal::CaptureStderr();
    auto writer = std::async(std::launch::async, [&] { return write_frames(44100); });
    EXPECT_EQ(writer.wait_for(1500ms), std::future_status::timeout);
    EXPECT_FALSE(driver_started());  // pausing before arming only defers the start
    sink->close();
    EXPECT_EQ(writer.get(), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

}  // namespace
}  // namespace ondelle::direct

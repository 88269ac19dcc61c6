// The simulated Windows that Ondelle-Direct's tests trust: thread message queues and their
// timer, and a simulated ASIO driver that keeps to its thread and its clock.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "iasio.h"
#include "win/com_ptr.h"

namespace ondelle {
namespace {

using namespace std::chrono_literals;
using namespace asio;

TEST(SimulatedMessages, QueuesExistOnceAskedForAndTimersComeWhenIdle) {
    std::atomic<DWORD> id{0};
    std::atomic<bool> ready{false};
    std::vector<UINT> received;
    std::chrono::steady_clock::duration until_timer{};
    std::thread owner([&] {
        id = GetCurrentThreadId();
        MSG message{};
        PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
        const auto start = std::chrono::steady_clock::now();
        SetTimer(nullptr, 0, 100, nullptr);
        ready = true;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            received.push_back(message.message);
            if (message.message == WM_TIMER && until_timer == std::chrono::steady_clock::duration{})
                until_timer = std::chrono::steady_clock::now() - start;
        }
        received.push_back(message.message);
    });
    while (!ready)
        std::this_thread::sleep_for(1ms);
    EXPECT_FALSE(PostThreadMessageW(GetCurrentThreadId() + 1000, WM_APP, 0, 0));
    EXPECT_TRUE(PostThreadMessageW(id, WM_APP, 0, 0));
    std::this_thread::sleep_for(250ms);
    EXPECT_TRUE(PostThreadMessageW(id, WM_QUIT, 0, 0));
    owner.join();
    ASSERT_GE(received.size(), 3u);
    EXPECT_EQ(received.front(), UINT(WM_APP));
    EXPECT_EQ(received.back(), UINT(WM_QUIT));
    EXPECT_EQ(std::count(received.begin(), received.end(), UINT(WM_TIMER)), 2);
    EXPECT_GE(until_timer, 100ms);
    EXPECT_FALSE(PostThreadMessageW(id, WM_APP, 0, 0)) << "the queue ends with its thread";
}

std::atomic<int> switches{0};
std::atomic<int> wrong_index{0};

void count_switch(std::int32_t index, ASIOBool) {
    if (index != switches % 2) ++wrong_index;
    ++switches;
}

class SimulatedDriver : public testing::Test {
  protected:
    void SetUp() override {
        folder = std::filesystem::temp_directory_path() /
                 ("ondelle-asio-sim-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        std::ofstream(folder / "sim.json")
            << R"({"asio_drivers":[{"name":"DAC","clsid":"{12345678-9ABC-DEF0-1234-56789ABCDEF0}",)"
            << R"("buffer_size":441,"log":")" << (folder / "driver.log").string() << R"("}]})";
        ::setenv("ONDELLE_SIM", (folder / "sim.json").c_str(), 1);
        CLSID clsid{};
        ASSERT_EQ(CLSIDFromString(L"{12345678-9ABC-DEF0-1234-56789ABCDEF0}", &clsid), S_OK);
        EXPECT_EQ(clsid.Data1, 0x12345678u);
        EXPECT_EQ(clsid.Data4[7], 0xF0);
        ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, clsid, driver.put_void()),
                  S_OK);
        ASSERT_TRUE(driver->init(nullptr));
    }
    void TearDown() override {
        driver.reset();
        ::unsetenv("ONDELLE_SIM");
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    std::string log() const {
        std::ifstream file(folder / "driver.log");
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    std::filesystem::path folder;
    ComPtr<IASIO> driver;
};

TEST_F(SimulatedDriver, RefusesCallsFromAnotherThreadLikeARealOne) {
    std::int32_t inputs = -1, outputs = -1;
    std::thread([&] { EXPECT_NE(driver->getChannels(&inputs, &outputs), ASE_OK); }).join();
    EXPECT_EQ(outputs, -1);
    EXPECT_EQ(driver->getChannels(&inputs, &outputs), ASE_OK);
    EXPECT_EQ(outputs, 2);
    EXPECT_EQ(log(), "init\nwrong thread: getChannels\ngetChannels\n");
    EXPECT_EQ(CLSIDFromString(L"{12345678-9ABC-DEF0-1234-56789ABCDEF}", nullptr), E_INVALIDARG);
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromString(L"12345678-9ABC-DEF0-1234-56789ABCDEF0", &clsid), CO_E_CLASSSTRING);
}

TEST_F(SimulatedDriver, SwitchesHalfBuffersAtItsRateByTurns) {
    ASIOBufferInfo infos[2] = {{ASIOFalse, 0, {}}, {ASIOFalse, 1, {}}};
    ASIOCallbacks callbacks{};
    callbacks.bufferSwitch = count_switch;
    ASSERT_EQ(driver->setSampleRate(44100), ASE_OK);
    ASSERT_EQ(driver->createBuffers(infos, 2, 441, &callbacks), ASE_OK);
    ASSERT_NE(infos[1].buffers[1], nullptr);
    switches = 0;
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(driver->start(), ASE_OK);
    // 50 half buffers of 10 ms: never sooner than their time, and surely within 5 s, however
    // busy the machine is.
    while (switches < 50 && std::chrono::steady_clock::now() - started < 5s)
        std::this_thread::sleep_for(1ms);
    const auto took = std::chrono::steady_clock::now() - started;
    driver->stop();
    EXPECT_GE(switches.load(), 50);
    EXPECT_GE(took, 490ms);
    EXPECT_EQ(wrong_index, 0);
    EXPECT_EQ(driver->disposeBuffers(), ASE_OK);
}

}  // namespace
}  // namespace ondelle

// The simulated Windows that the programs' tests trust: events, the device clock, exclusive
// holding and capture, driven through the same calls the programs make.
#include <windows.h>

#include <audioclient.h>
#include <mmdeviceapi.h>
#include <ksmedia.h>
#include <mmreg.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "win/com_ptr.h"
#include "win/event_handle.h"

namespace ondelle {
namespace {

using namespace std::chrono_literals;

TEST(SimulatedEvents, WaitForSeveralReportsTheFirstSignalled) {
    const EventHandle automatic = EventHandle::create_auto_reset();
    const EventHandle manual = EventHandle::create_manual_reset();
    const HANDLE both[2] = {automatic.get(), manual.get()};
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 20), WAIT_TIMEOUT);

    std::thread setter([&] {
        std::this_thread::sleep_for(50ms);
        SetEvent(manual.get());
    });
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 5000), WAIT_OBJECT_0 + 1);
    setter.join();
    // A manual-reset event stays signalled; an auto-reset one is taken by one wait.
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0 + 1);
    SetEvent(automatic.get());
    EXPECT_EQ(WaitForSingleObject(automatic.get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic.get(), 0), WAIT_TIMEOUT);

    const HANDLE closed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    CloseHandle(closed);
    EXPECT_EQ(WaitForSingleObject(closed, 0), WAIT_FAILED);
}

// 48 kHz stereo 16-bit PCM, written out here rather than taken from a program, so that the
// stand-ins are tested on their own.
WAVEFORMATEXTENSIBLE stereo_16_bit_48k() {
    WAVEFORMATEXTENSIBLE wave{};
    wave.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    wave.Format.nChannels = 2;
    wave.Format.nSamplesPerSec = 48000;
    wave.Format.nBlockAlign = 4;
    wave.Format.nAvgBytesPerSec = 48000 * 4;
    wave.Format.wBitsPerSample = 16;
    wave.Format.cbSize = 22;
    wave.Samples.wValidBitsPerSample = 16;
    wave.dwChannelMask = SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
    wave.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    return wave;
}

// One simulated device at 48 kHz, 16-bit, 10 ms periods, with a capture file.
class SimulatedMachine : public testing::Test {
  protected:
    void SetUp() override {
        const std::string stem = std::filesystem::temp_directory_path() /
                                 ("ondelle-sim-" + std::to_string(::getpid()) + "-" +
                                  testing::UnitTest::GetInstance()->current_test_info()->name());
        config_ = stem + ".json";
        capture_ = stem + ".raw";
        std::ofstream(config_) << R"({"render_devices":[{"name":"DAC","default":true,)"
                               << R"("rates":[48000],"layouts":["16/16"],"capture":")"
                               << capture_.string() << R"("}]})";
        ::setenv("ONDELLE_SIM", config_.c_str(), 1);
        ComPtr<IMMDeviceEnumerator> enumerator;
        ASSERT_EQ(CoCreateInstance(CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL,
                                   IID_IMMDeviceEnumerator, enumerator.put_void()),
                  S_OK);
        ASSERT_EQ(enumerator->GetDefaultAudioEndpoint(eRender, eConsole, device_.put()), S_OK);
    }

    void TearDown() override {
        device_.reset();
        ::unsetenv("ONDELLE_SIM");
        std::error_code ignored;
        std::filesystem::remove(config_, ignored);
        std::filesystem::remove(capture_, ignored);
    }

    HRESULT open_exclusive(ComPtr<IAudioClient>& client) {
        const WAVEFORMATEXTENSIBLE wave = stereo_16_bit_48k();
        HRESULT result =
            device_->Activate(IID_IAudioClient, CLSCTX_ALL, nullptr, client.put_void());
        if (SUCCEEDED(result))
            result =
                client->Initialize(AUDCLNT_SHAREMODE_EXCLUSIVE, AUDCLNT_STREAMFLAGS_EVENTCALLBACK,
                                   100000, 100000, &wave.Format, nullptr);
        return result;
    }

    std::filesystem::path config_;
    std::filesystem::path capture_;
    ComPtr<IMMDevice> device_;
};

TEST_F(SimulatedMachine, ExclusiveUseHoldsTheDeviceUntilReleased) {
    ComPtr<IAudioClient> first;
    ASSERT_EQ(open_exclusive(first), S_OK);
    ComPtr<IAudioClient> second;
    EXPECT_EQ(open_exclusive(second), AUDCLNT_E_DEVICE_IN_USE);
    first.reset();
    EXPECT_EQ(open_exclusive(second), S_OK);
}

TEST_F(SimulatedMachine, ClockConsumesAtTheDeviceRateAndCapturesWhatItGot) {
    ComPtr<IAudioClient> client;
    ASSERT_EQ(open_exclusive(client), S_OK);
    const EventHandle event = EventHandle::create_auto_reset();
    ASSERT_EQ(client->SetEventHandle(event.get()), S_OK);
    UINT32 frames = 0;
    ASSERT_EQ(client->GetBufferSize(&frames), S_OK);
    EXPECT_EQ(frames, 480u) << "one 10 ms period";
    ComPtr<IAudioRenderClient> render;
    ComPtr<IAudioClock> clock;
    ASSERT_EQ(client->GetService(IID_IAudioRenderClient, render.put_void()), S_OK);
    ASSERT_EQ(client->GetService(IID_IAudioClock, clock.put_void()), S_OK);

    // Feed numbered periods for about half a second, each when the device asks for it.
    std::vector<std::uint8_t> sent;
    const auto fill = [&] {
        BYTE* buffer = nullptr;
        ASSERT_EQ(render->GetBuffer(frames, &buffer), S_OK);
        for (UINT32 i = 0; i < frames * 4; ++i) {
            buffer[i] = BYTE(sent.size() / 4 + i / 4);
        }
        sent.insert(sent.end(), buffer, buffer + frames * 4);
        ASSERT_EQ(render->ReleaseBuffer(frames, 0), S_OK);
    };
    fill();
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(client->Start(), S_OK);
    while (std::chrono::steady_clock::now() - started < 500ms) {
        ASSERT_EQ(WaitForSingleObject(event.get(), 2000), WAIT_OBJECT_0);
        // A client that was late for a period finds the signal of the next one waiting while
        // the buffer is already empty and then full again: it fills only what is free.
        UINT32 padding = 0;
        ASSERT_EQ(client->GetCurrentPadding(&padding), S_OK);
        if (padding == 0) fill();
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ASSERT_EQ(client->Stop(), S_OK);

    UINT64 frequency = 0;
    UINT64 position = 0;
    ASSERT_EQ(clock->GetFrequency(&frequency), S_OK);
    ASSERT_EQ(clock->GetPosition(&position, nullptr), S_OK);
    const double played = double(position) / double(frequency);
    EXPECT_GT(played, seconds * 0.6) << "the clock runs at the device rate";
    EXPECT_LT(played, seconds * 1.4);

    render.reset();
    clock.reset();
    client.reset();
    std::ifstream file(capture_, std::ios::binary);
    const std::vector<std::uint8_t> captured{std::istreambuf_iterator<char>(file), {}};
    ASSERT_GE(captured.size(), 4u * 480);
    ASSERT_LE(captured.size(), sent.size());
    EXPECT_TRUE(std::equal(captured.begin(), captured.end(), sent.begin()))
        << "the capture holds what was consumed, in order";
}

}  // namespace
}  // namespace ondelle

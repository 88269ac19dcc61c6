// WasapiSink on simulated devices: layouts, opening failures, delay and drain, blocking.
#include "wasapi_sink.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "device_probe.h"
#include "win/com_ptr.h"

namespace ondelle::wasapi {
namespace {

using namespace std::chrono_literals;

Format pcm(int rate, int bits) {
    Format format;
    format.rate = rate;
    format.bits = bits;
    return format;
}

Format dsd64() {
    Format format;
    format.kind = "dsd";
    format.rate = 2822400;
    format.bits = 1;
    return format;
}

TEST(DeviceLayout, FirstLayoutTheStreamConvertsInto) {
    DeviceCaps caps;
    caps.pcm[44100] = {{16, 16, S16_LE}, {24, 24, S24_3LE}};
    caps.pcm[48000] = {{32, 24, S32_LE}};
    caps.dop[2822400] = {24, 24, DoP_S24_3LE};
    struct Case {
        Format format;
        std::int32_t container;  // 0: none
        std::int32_t valid;
    };
    for (const auto& c : std::vector<Case>{{pcm(44100, 16), 16, 16},
                                           {pcm(44100, 24), 24, 24},
                                           {pcm(48000, 16), 32, 24},
                                           {pcm(48000, 32), 0, 0},
                                           {pcm(96000, 16), 0, 0},
                                           {dsd64(), 24, 24}}) {
        const auto layout = find_device_format(caps, c.format);
        SCOPED_TRACE(c.format.kind + std::to_string(c.format.rate) + "/" +
                     std::to_string(c.format.bits));
        ASSERT_EQ(layout.has_value(), c.container != 0);
        if (!layout) continue;
        EXPECT_EQ(layout->container_bits, c.container);
        EXPECT_EQ(layout->valid_bits, c.valid);
    }
}

// One simulated device, chosen as the default, with its probed table and a sink on it.
class SimulatedDevice : public testing::Test {
  protected:
    void use_device(const std::string& device_json, bool shared = false) {
        path_ = std::filesystem::temp_directory_path() /
                ("ondelle-sink-" + std::to_string(::getpid()) + "-" +
                 testing::UnitTest::GetInstance()->current_test_info()->name() + ".json");
        std::ofstream(path_) << R"({"render_devices":[{"name":"DAC","default":true,)" << device_json
                             << "}]}";
        ::setenv("ONDELLE_SIM", path_.c_str(), 1);
        ComPtr<IMMDeviceEnumerator> enumerator;
        ASSERT_EQ(CoCreateInstance(CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL,
                                   IID_IMMDeviceEnumerator, enumerator.put_void()),
                  S_OK);
        ASSERT_EQ(enumerator->GetDefaultAudioEndpoint(eRender, eConsole, device_.put()), S_OK);
        caps_ = shared ? probe_shared(device_.get()) : probe_exclusive(device_.get(), true);
        watch_ = std::make_unique<DeviceWatch>(device_.get(), &caps_);
        sink_ = std::make_unique<WasapiSink>(*watch_, shared, false);
    }

    void TearDown() override {
        if (sink_) sink_->close();
        sink_.reset();
        watch_.reset();
        device_.reset();
        ::unsetenv("ONDELLE_SIM");
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }

    std::filesystem::path path_;
    ComPtr<IMMDevice> device_;
    DeviceCaps caps_;
    std::unique_ptr<DeviceWatch> watch_;
    std::unique_ptr<WasapiSink> sink_;
};

TEST_F(SimulatedDevice, FormatOutsideTheTableIsRefusedUntouched) {
    use_device(R"("rates":[44100],"layouts":["16/16","24/32"])");
    std::string error;
    EXPECT_FALSE(sink_->open(pcm(44100, 32), error));
    EXPECT_EQ(error, "the device does not take this format as it is");
    EXPECT_EQ(sink_->delay(), 0);
}

TEST_F(SimulatedDevice, FailedInitializeNamesModeAndResult) {
    use_device(R"("initialize_error":"0x88890008","initialize_error_count":1)");
    std::string error;
    EXPECT_FALSE(sink_->open(pcm(48000, 16), error));
    EXPECT_EQ(error, "exclusive mode failed (0x88890008)");
    // The failure was one-off: the next open works and the sink plays.
    EXPECT_TRUE(sink_->open(pcm(48000, 16), error));
}

TEST_F(SimulatedDevice, MisalignedBufferIsRetriedOnceWithTheAlignedPeriod) {
    use_device(R"("initialize_error":"0x88890019","initialize_error_count":2)");
    std::string error;
    EXPECT_FALSE(sink_->open(pcm(44100, 16), error));
    EXPECT_EQ(error, "exclusive mode failed (0x88890019)") << "the retry failed too";
    EXPECT_TRUE(sink_->open(pcm(44100, 16), error)) << error;
}

TEST_F(SimulatedDevice, DrainReturnsOnceTheAudioHasBeenHeard) {
    use_device(R"("speed":4)");
    std::string error;
    ASSERT_TRUE(sink_->open(pcm(48000, 16), error)) << error;
    const std::vector<std::uint8_t> audio(48000 / 5 * 4, 0x11);  // 200 ms
    ASSERT_EQ(sink_->write(audio.data(), 48000 / 5), 48000u / 5);
    const auto before = std::chrono::steady_clock::now();
    sink_->drain();
    // The device pads every period with silence; only the audio counts, so drain ends after
    // about 50 ms of device time instead of running out its three seconds.
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
    EXPECT_EQ(sink_->delay(), 0);
    EXPECT_EQ(sink_->underruns(), 0u) << "silence after the last audio is no underrun";
}

// Less than one device period and nothing more coming: the stream starts padded with
// silence and is heard, instead of waiting for a period that never fills.
TEST_F(SimulatedDevice, DrainPlaysOutAStreamShorterThanAPeriod) {
    use_device(R"("speed":4)");
    std::string error;
    ASSERT_TRUE(sink_->open(pcm(48000, 16), error)) << error;
    const std::vector<std::uint8_t> audio(100 * 4, 0x11);
    ASSERT_EQ(sink_->write(audio.data(), 100), 100u);
    EXPECT_EQ(sink_->delay(), 100);
    const auto before = std::chrono::steady_clock::now();
    sink_->drain();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
    EXPECT_EQ(sink_->delay(), 0);
    EXPECT_EQ(sink_->underruns(), 0u);
}

// A writer that stops in the middle of its stream leaves the device dry: that counts.
TEST_F(SimulatedDevice, RunningDryInTheMiddleOfAStreamIsAnUnderrun) {
    use_device(R"("speed":4)");
    std::string error;
    ASSERT_TRUE(sink_->open(pcm(48000, 16), error)) << error;
    const std::vector<std::uint8_t> audio(48000 / 10 * 4, 0x11);
    ASSERT_EQ(sink_->write(audio.data(), 48000 / 10), 48000u / 10);
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    while (sink_->underruns() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    EXPECT_GT(sink_->underruns(), 0u);
}

TEST_F(SimulatedDevice, DopDelayCountsTwoWireFramesPerDeviceFrame) {
    use_device(R"("rates":[176400],"layouts":["24/32"])");
    std::string error;
    ASSERT_TRUE(sink_->open(dsd64(), error)) << error;
    // Less than one device buffer: pre-roll holds it all back.
    const std::vector<std::uint8_t> audio(2000 * 2, 0x69);
    ASSERT_EQ(sink_->write(audio.data(), 2000), 2000u);
    EXPECT_EQ(sink_->delay(), 2000);
}

TEST_F(SimulatedDevice, WriteToAFullPausedSinkWaitsUntilClose) {
    use_device(R"("speed":1)");
    std::string error;
    ASSERT_TRUE(sink_->open(pcm(48000, 16), error)) << error;
    sink_->pause(true);
    const std::vector<std::uint8_t> second(48000 * 4, 0x22);
    auto writer =
        std::async(std::launch::async, [&] { return sink_->write(second.data(), 48000); });
    EXPECT_EQ(writer.wait_for(300ms), std::future_status::timeout) << "the ring holds 200 ms";
    sink_->close();
    ASSERT_EQ(writer.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(writer.get(), 0u);
    EXPECT_EQ(sink_->delay(), 0);
}

TEST_F(SimulatedDevice, SharedModeWritesOnlyWholeQueuedFrames) {
    use_device(R"("speed":4,"mix_rate":44100)", true);
    std::string error;
    ASSERT_TRUE(sink_->open(pcm(44100, 16), error)) << error;
    const std::vector<std::uint8_t> audio(44100 / 2 * 4, 0x33);
    ASSERT_EQ(sink_->write(audio.data(), 44100 / 2), 44100u / 2);
    sink_->drain();
    EXPECT_EQ(sink_->delay(), 0);
    EXPECT_EQ(sink_->underruns(), 0u);
}

}  // namespace
}  // namespace ondelle::wasapi

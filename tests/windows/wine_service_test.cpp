// Both programs installed as services by themselves, started and stopped by sc, playing
// byte-exact in between, and removed again.
#include <filesystem>

#include "e2e/wire_audio.h"
#include "windows/wine_harness.h"

namespace ondelle::test {
namespace {

class ProgramService : public ServiceUnderWine {
  protected:
    // Installs it with the program's own options, starts it, runs what the test does with
    // it while it runs, stops it and removes it; its log is the test's "service.log".
    void run_service(const std::string& exe, std::vector<std::string> options,
                     const std::function<void()>& while_running) {
        const std::string log = dir.path("service.log");
        options.insert(options.begin(), "--install-service");
        for (const std::string& more :
             {std::string("--service-name"), name, std::string("--log"), windows_path(log)})
            options.push_back(more);
        auto install = start(exe, options);
        ASSERT_EQ(install->wait_exit(60s), 0) << install->err() << install->out();
        EXPECT_NE(without_cr(install->out()).find("service \"" + name + "\" installed: \""),
                  std::string::npos)
            << install->out();
        EXPECT_FALSE(std::filesystem::exists(log)) << "the install wrote to the service's log";

        ASSERT_EQ(run_wine(dir, {"sc", "start", name}), 0);
        ASSERT_TRUE(wait_for_service_state(dir, name, "RUNNING")) << read_file(log);
        while_running();

        EXPECT_EQ(run_wine(dir, {"sc", "stop", name}), 0);
        EXPECT_TRUE(wait_for_service_state(dir, name, "STOPPED")) << read_file(log);
        Program query(dir, wine, {"sc", "query", name});
        query.wait_exit(30s);
        EXPECT_NE(without_cr(query.out()).find("WIN32_EXIT_CODE    : 0"), std::string::npos)
            << query.out();

        auto uninstall = start(exe, {"--uninstall-service", "--service-name", name});
        EXPECT_EQ(uninstall->wait_exit(60s), 0) << uninstall->err();
        EXPECT_EQ(service_state(dir, name), "");
        EXPECT_NE(read_file(log).find("sender: Wine test"), std::string::npos) << read_file(log);
    }

    const std::string name = "Ondelle Test Service";
    const int port = free_port();
};

// Through Wine's mixer into the ALSA file, as on the console.
TEST_F(ProgramService, WasapiPlaysByteExactUntilScStopsIt) {
    const std::string audio = pattern(std::size_t(48000 / 4) * 4, 12);
    run_service(wasapi_exe(), {"--mix", "--port", std::to_string(port)}, [&] {
        const std::string wanted = ":" + std::to_string(port) + "  Out: default";
        EXPECT_NE(endpoints_found(wanted).find(wanted), std::string::npos);
        Peer sender = Peer::hello(port, hello);
        ASSERT_TRUE(sender.connected());
        play(sender, 1, "pcm", 48000, 16, audio, 4);
    });
    const auto files = alsa_files();  // the stop closed the output and its file
    const auto file = files.find("play-48000-2-16-S16_LE.raw");
    ASSERT_NE(file, files.end()) << "ALSA files: " << files.size();
    expect_played_alone(file->second, audio);
}

TEST_F(ProgramService, DirectPlaysByteExactUntilScStopsIt) {
    set_driver_settings(
        {{"ONDELLE_TEST_ASIO_TYPE", "16"}, {"ONDELLE_TEST_ASIO_CAPTURE", dir.path("asio.raw")}});
    const std::string wire = pattern(44100 * 4 / 2, 11);  // 16-bit samples: the wire audio
    run_service(direct_exe(), {"--driver", "Ondelle Test", "--port", std::to_string(port)}, [&] {
        EXPECT_NE(endpoints_found("Ondelle Test DAC").find("Ondelle Test DAC"), std::string::npos);
        Peer sender = Peer::hello(port, hello);
        ASSERT_TRUE(sender.connected());
        play(sender, 1, "pcm", 44100, 16, wire, 4);
    });
    // The driver has written its last buffer once the service stopped.
    expect_played_alone(read_file(dir.path("asio.raw")), wire);
}

}  // namespace
}  // namespace ondelle::test

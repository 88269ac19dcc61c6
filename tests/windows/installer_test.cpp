// The downloads under Wine: the installer's silent path, from a fresh install through an
// install over it to its uninstall, for a service of each program; and the portable zip.
#include <filesystem>
#include <set>
#include <thread>

#include "e2e/wire_audio.h"
#include "windows/wine_harness.h"

namespace ondelle::test {
namespace {

const std::string version = ONDELLE_PROJECT_VERSION;
const std::string apps_key =
    "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Ondelle";
const std::string services_key = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\";
const std::string start_menu = "ProgramData/Microsoft/Windows/Start Menu/Programs/Ondelle";

std::string package(const std::string& file) {
    return mingw_build() + "/package/" + file;
}
std::string installed(const std::string& file) {
    return drive_c("Program Files/Ondelle/" + file);
}

class Installer : public ServiceUnderWine {
  protected:
    void SetUp() override {
        ServiceUnderWine::SetUp();
        if (IsSkipped()) return;
        ASSERT_TRUE(std::filesystem::exists(setup)) << setup << ": scripts/package makes it";
        ASSERT_TRUE(uninstall()) << "what an earlier run left";
    }

    int install(std::vector<std::string> options) {
        options.insert(options.begin(), "/S");
        return start(setup, options)->wait_exit(120s);
    }

    // The silent uninstaller hands its work to a copy of itself and returns at once: done
    // once the folder is gone.
    bool uninstall() {
        if (!std::filesystem::exists(installed("uninstall.exe"))) return true;
        run_wine(dir, {"C:\\Program Files\\Ondelle\\uninstall.exe", "/S"});
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (std::filesystem::exists(installed("")) &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(200ms);
        return !std::filesystem::exists(installed(""));
    }

    static std::string install_log() {
        return without_cr(read_file(drive_c("ProgramData/Ondelle/install.log")));
    }

    const std::string setup = package("Ondelle-Setup-" + version + ".exe");
    const int port = free_port();
};

TEST_F(Installer, WasapiServiceFromAFreshInstallThroughAnUpdateToTheUninstall) {
    ASSERT_EQ(install({"/SERVICE=wasapi", "/OPTIONS=--mix --port " + std::to_string(port)}), 0)
        << install_log();
    for (const char* file : {"ondelle-wasapi.exe", "Ondelle-Direct.exe", "README.txt"})
        EXPECT_TRUE(std::filesystem::exists(installed(file))) << file;
    for (const char* link :
         {"Ondelle devices.lnk", "Ondelle ASIO drivers.lnk", "README.lnk", "Uninstall.lnk"})
        EXPECT_TRUE(std::filesystem::exists(drive_c(start_menu + "/" + link))) << link;
    EXPECT_EQ(registry_value(dir, apps_key, "DisplayVersion"), version);
    EXPECT_EQ(registry_value(dir, apps_key, "Publisher"), "Ondelle");
    EXPECT_EQ(registry_value(dir, apps_key, "QuietUninstallString"),
              "\"C:\\Program Files\\Ondelle\\uninstall.exe\" /S");

    const std::string command_line =
        "\"C:\\Program Files\\Ondelle\\ondelle-wasapi.exe\" --service --mix --port " +
        std::to_string(port);
    EXPECT_EQ(registry_value(dir, services_key + "ondelle-wasapi", "ImagePath"), command_line);
    ASSERT_TRUE(wait_for_service_state(dir, "ondelle-wasapi", "RUNNING")) << install_log();
    const std::string wanted = ":" + std::to_string(port) + "  Out: default";
    EXPECT_NE(endpoints_found(wanted).find(wanted), std::string::npos);
    {
        Peer sender = Peer::hello(port, hello);
        ASSERT_TRUE(sender.connected());
        const std::string audio = pattern(std::size_t(48000 / 4) * 4, 13);
        play(sender, 1, "pcm", 48000, 16, audio, 4);
        ASSERT_TRUE(sender.send_json(R"({"t":"stop"})"));  // closes the output and its file
        std::this_thread::sleep_for(300ms);
        const auto files = alsa_files();
        const auto file = files.find("play-48000-2-16-S16_LE.raw");
        ASSERT_NE(file, files.end()) << "ALSA files: " << files.size();
        expect_played_alone(file->second, audio);
    }

    // Over itself: the service is stopped for the files and runs again as it was.
    ASSERT_EQ(install({}), 0) << install_log();
    EXPECT_NE(install_log().find("service \"ondelle-wasapi\" stopped for the update"),
              std::string::npos)
        << install_log();
    EXPECT_TRUE(wait_for_service_state(dir, "ondelle-wasapi", "RUNNING")) << install_log();
    EXPECT_EQ(registry_value(dir, services_key + "ondelle-wasapi", "ImagePath"), command_line);

    ASSERT_TRUE(uninstall());
    EXPECT_EQ(service_state(dir, "ondelle-wasapi"), "");
    EXPECT_EQ(registry_value(dir, apps_key, "DisplayName"), "");
    EXPECT_FALSE(std::filesystem::exists(drive_c(start_menu)));
    // The logs stay. Wine gives services a %ProgramData% of C:\users\Public, where Windows
    // has one folder for both.
    EXPECT_TRUE(std::filesystem::exists(drive_c("ProgramData/Ondelle/install.log")));
    EXPECT_TRUE(std::filesystem::exists(drive_c("users/Public/Ondelle/ondelle-wasapi.log")));
}

TEST_F(Installer, DirectServiceOnTheChosenDriver) {
    set_driver_settings(
        {{"ONDELLE_TEST_ASIO_TYPE", "16"}, {"ONDELLE_TEST_ASIO_CAPTURE", dir.path("asio.raw")}});
    ASSERT_EQ(install({"/SERVICE=direct", "/DEVICE=Ondelle Test DAC",
                       "/OPTIONS=--port " + std::to_string(port)}),
              0)
        << install_log();
    ASSERT_TRUE(wait_for_service_state(dir, "Ondelle-Direct", "RUNNING")) << install_log();
    const std::string wire = pattern(44100 * 4 / 2, 14);  // 16-bit samples: the wire audio
    {
        Peer sender = Peer::hello(port, hello);
        ASSERT_TRUE(sender.connected());
        play(sender, 1, "pcm", 44100, 16, wire, 4);
    }
    ASSERT_TRUE(uninstall());
    EXPECT_EQ(service_state(dir, "Ondelle-Direct"), "");
    // The driver has written its last buffer once the service stopped.
    expect_played_alone(read_file(dir.path("asio.raw")), wire);
}

TEST_F(Installer, AChoiceItDoesNotKnowFailsWithALineInItsLog) {
    EXPECT_NE(install({"/SERVICE=asio"}), 0);
    EXPECT_NE(install_log().find("/SERVICE=asio is not wasapi, direct or none"), std::string::npos)
        << install_log();
    EXPECT_FALSE(std::filesystem::exists(installed("")));
}

// Nothing of Wine's: what the zip holds.
TEST(PortableZip, HoldsBothProgramsAndAReadmeWithWindowsLineEnds) {
    TempDir dir;
    const std::string zip = package("Ondelle-" + version + "-win64.zip");
    ASSERT_TRUE(std::filesystem::exists(zip)) << zip << ": scripts/package makes it";
    const std::string unpacked = dir.path("unpacked");
    std::filesystem::create_directories(unpacked);
    Program unzip(dir, ONDELLE_CMAKE,
                  {"-E", "chdir", unpacked, ONDELLE_CMAKE, "-E", "tar", "xf", zip});
    ASSERT_EQ(unzip.wait_exit(60s), 0) << unzip.err();
    std::set<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(unpacked))
        files.insert(std::filesystem::relative(entry.path(), unpacked).string());
    EXPECT_EQ(files,
              (std::set<std::string>{"ondelle-wasapi.exe", "Ondelle-Direct.exe", "README.txt"}));

    const std::string readme = read_file(unpacked + "/README.txt");
    EXPECT_EQ(readme.rfind("# Ondelle endpoints\r\n", 0), 0u);
    for (std::size_t at = readme.find('\n'); at != std::string::npos;
         at = readme.find('\n', at + 1))
        ASSERT_EQ(readme[at - 1], '\r') << "a line without CR at byte " << at;
    for (const char* section :
         {"\r\n## On Windows\r\n", "\r\n## Run at boot\r\n", "\r\n## Command lines\r\n"})
        EXPECT_NE(readme.find(section), std::string::npos) << section;
    EXPECT_EQ(readme.find("\r\n## Test\r\n"), std::string::npos) << "the developers' part";
}

}  // namespace
}  // namespace ondelle::test

// The Wine harness: the prefix for the run and the fixtures' steps.
#include "windows/wine_harness.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "e2e/wire_audio.h"

namespace ondelle::test {

const std::string wine = "/usr/lib/wine/wine64";
const std::string hello = R"({"t":"hello","proto":2,"sender":{"id":"w","name":"Wine test"}})";

namespace {

const std::string driver_clsid = "{6F6E6465-6C6C-6554-6573-744153494F31}";
const std::string driver_settings_key = "HKLM\\SOFTWARE\\Ondelle Test Driver";

std::string wine_dir() {
    const char* folder = std::getenv("ONDELLE_WINE_DIR");
    return folder && *folder ? folder : ONDELLE_DEFAULT_WINE_DIR;
}

// One prefix for the whole run, with the test driver registered; its server is stopped at
// the end.
class WineEnvironment : public testing::Environment {
  public:
    void SetUp() override {
        const std::string root = wine_dir();
        std::filesystem::create_directories(root);
        ::setenv("WINEPREFIX", (root + "/prefix").c_str(), 1);
        ::setenv("WINEDEBUG", "-all", 1);
        ::setenv("HOME", root.c_str(), 1);
        TempDir dir;
        if (!std::filesystem::exists(root + "/prefix/system.reg")) {
            ASSERT_EQ(run_wine(dir, {"wineboot", "-i"}, 120s), 0) << "the prefix could not be made";
        }
        const std::string driver =
            windows_path(mingw_build() + "/tests/windows/test_asio_driver.dll");
        const std::string server = "HKCR\\CLSID\\" + driver_clsid + "\\InprocServer32";
        for (const std::vector<std::string>& add :
             {std::vector<std::string>{"reg", "add", "HKLM\\SOFTWARE\\ASIO\\Ondelle Test DAC", "/v",
                                       "CLSID", "/t", "REG_SZ", "/d", driver_clsid, "/f"},
              {"reg", "add", server, "/ve", "/t", "REG_SZ", "/d", driver, "/f"},
              {"reg", "add", server, "/v", "ThreadingModel", "/t", "REG_SZ", "/d", "Apartment",
               "/f"}})
            ASSERT_EQ(run_wine(dir, add), 0) << "registering the test driver";
    }
    void TearDown() override {
        TempDir dir;
        Program(dir, "/usr/lib/wine/wineserver", {"-k"}).wait_exit(10s);
    }
};

const auto* const environment = testing::AddGlobalTestEnvironment(new WineEnvironment);

}  // namespace

std::string mingw_build() {
    const char* folder = std::getenv("ONDELLE_MINGW_BUILD");
    return folder && *folder ? folder : ONDELLE_DEFAULT_MINGW_BUILD;
}
std::string wasapi_exe() {
    return mingw_build() + "/wasapi/ondelle-wasapi.exe";
}
std::string direct_exe() {
    return mingw_build() + "/direct/Ondelle-Direct.exe";
}

std::string without_cr(std::string text) {
    std::erase(text, '\r');
    return text;
}

std::string windows_path(const std::string& unix_path) {
    std::string path = "Z:" + unix_path;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::string drive_c(const std::string& path) {
    return wine_dir() + "/prefix/drive_c/" + path;
}

std::string endpoints_found(const std::string& wanted) {
    std::string out;
    for (int attempt = 0; attempt < 3 && out.find(wanted) == std::string::npos; ++attempt)
        out = run_executable(ONDELLE_SEND_PATH, {"--list"}).out;
    return out;
}

int run_wine(const TempDir& dir, const std::vector<std::string>& arguments,
             std::chrono::milliseconds timeout) {
    Program program(dir, wine, arguments);
    return program.wait_exit(timeout);
}

std::string registry_value(const TempDir& dir, const std::string& key, const std::string& value) {
    Program query(dir, wine, {"reg", "query", key, "/v", value});
    if (query.wait_exit(30s) != 0) return "";
    // "    NAME    REG_SZ    DATA"
    const std::string out = without_cr(query.out());
    const auto type = out.find("    REG_", out.find(value));
    if (type == std::string::npos) return "";
    const auto data = out.find("    ", type + 4);
    if (data == std::string::npos) return "";
    const auto end = out.find('\n', data);
    return out.substr(data + 4, end == std::string::npos ? std::string::npos : end - data - 4);
}

std::string service_state(const TempDir& dir, const std::string& name) {
    Program query(dir, wine, {"sc", "query", name});
    query.wait_exit(30s);
    const std::string out = without_cr(query.out());
    for (const char* state : {"START_PENDING", "STOP_PENDING", "RUNNING", "STOPPED"})
        if (out.find(state) != std::string::npos) return state;
    return "";
}

bool wait_for_service_state(const TempDir& dir, const std::string& name, const std::string& state,
                            std::chrono::seconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (service_state(dir, name) == state) return true;
        std::this_thread::sleep_for(200ms);
    }
    return false;
}

void UnderWine::SetUp() {
    if (!std::getenv("ONDELLE_PRIVATE_NET"))
        GTEST_SKIP() << "the programs advertise: run in the private test namespace";
    captures = dir.path("alsa");
    std::filesystem::create_directories(captures);
    write_file(dir.path(".asoundrc"),
               "pcm.!default {\n"
               "    type file\n"
               "    slave.pcm \"null\"\n"
               "    file \"" +
                   captures +
                   "/play-%r-%c-%b-%f.raw\"\n"
                   "    format \"raw\"\n"
                   "    truncate false\n"
                   "}\n");
    ::setenv("HOME", dir.path("").c_str(), 1);
    ::unsetenv("ONDELLE_TEST_ASIO_TYPE");
    ::unsetenv("ONDELLE_TEST_ASIO_DSD");
    ::unsetenv("ONDELLE_TEST_ASIO_RESET_MS");
    ::setenv("ONDELLE_TEST_ASIO_CAPTURE", dir.path("asio.raw").c_str(), 1);
}

std::unique_ptr<Program> UnderWine::start(const std::string& exe,
                                          std::vector<std::string> arguments, bool input_pipe) {
    arguments.insert(arguments.begin(), exe);
    return std::make_unique<Program>(dir, wine, arguments, "", input_pipe);
}

std::map<std::string, std::string> UnderWine::alsa_files() const {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(captures))
        files[entry.path().filename().string()] = read_file(entry.path().string());
    return files;
}

void UnderWine::play(Peer& sender, int stream, const std::string& kind, int rate, int bits,
                     const std::string& audio, int frame_bytes) {
    ASSERT_TRUE(send_stream(sender, stream, kind, rate, bits, audio, frame_bytes));
    EXPECT_EQ(sender.read_message("ended", 20s), ended_message(stream));
}

void ServiceUnderWine::SetUp() {
    UnderWine::SetUp();
    if (IsSkipped()) return;
    Program(dir, "/usr/lib/wine/wineserver", {"-k"}).wait_exit(10s);
    Program(dir, "/usr/lib/wine/wineserver", {"-w"}).wait_exit(10s);
    keeper_ = start("cmd", {}, true);
}

void ServiceUnderWine::TearDown() {
    if (driver_settings_) run_wine(dir, {"reg", "delete", driver_settings_key, "/f"});
    if (!keeper_) return;
    keeper_->close_input();
    keeper_->wait_exit(30s);
}

void ServiceUnderWine::set_driver_settings(const std::map<std::string, std::string>& settings) {
    driver_settings_ = true;
    for (const auto& [value, data] : settings)
        ASSERT_EQ(run_wine(dir, {"reg", "add", driver_settings_key, "/v", value, "/t", "REG_SZ",
                                 "/d", data, "/f"}),
                  0);
}

}  // namespace ondelle::test

// --install-service and --uninstall-service of both programs against the simulated service
// control manager: the configuration written, the checks made first, and what is left after
// a refusal.
#include <gtest/gtest.h>

#include <filesystem>

#include "e2e/program.h"
#include "json.h"

namespace ondelle::test {
namespace {

class ServiceInstall : public testing::Test {
  protected:
    void SetUp() override { manager = dir.path("services.json"); }

    std::string machine(bool elevated = true) const {
        return R"({"computer_name":"DEN","service_manager":")" + manager + R"(","elevated":)" +
               (elevated ? "true" : "false") +
               R"(,"render_devices":[{"name":"USB DAC","default":true}],)"
               R"("asio_drivers":[{"name":"Studio DAC"}]})";
    }

    // The manager's state: {"services": {...}, "event_sources": {...}}.
    Json state() const {
        Json json;
        parse_json(read_file(manager), json);
        return json;
    }

    TempDir dir;
    std::string manager;
};

TEST_F(ServiceInstall, WritesTheWholeConfigurationAndRemovesItAgain) {
    const std::string name =
        "Ondelle Den \xc2\xb7 K\xc3\xbc"
        "che";
    const Finished installed = run_executable(ONDELLE_WASAPI_PATH,
                                              {"--install-service", "--device", "USB", "--name",
                                               "Wohnzimmer K\xc3\xbc"
                                               "che",
                                               "--port", "4725", "--mix", "--service-name", name},
                                              machine());
    ASSERT_EQ(installed.code, 0) << installed.err;
    const std::string exe = std::filesystem::canonical(ONDELLE_WASAPI_PATH).string();
    const std::string command_line = "\"" + exe +
                                     "\" --service --device USB --name \"Wohnzimmer K\xc3\xbc"
                                     "che\" --port 4725 --mix --service-name \"" +
                                     name + "\"";
    // What it serves, as a start shows it, then one line per step.
    EXPECT_EQ(installed.out.rfind("USB DAC\n", 0), 0u) << installed.out;
    EXPECT_EQ(installed.out.substr(installed.out.find("service \"")),
              "service \"" + name + "\" installed: " + command_line +
                  "\nit starts at boot as NT AUTHORITY\\LocalService, after "
                  "Audiosrv, and again 5 s after a failure (twice a day)\n"
                  "event log source \"" +
                  name +
                  "\" registered\nfirewall: senders on private networks of this subnet may "
                  "reach TCP port 4725 and multicast DNS (UDP 5353)\nstart it now with: sc "
                  "start \"" +
                  name + "\"\n");
    const Json service = state().get("services").get(name);
    EXPECT_EQ(service.get("display_name").as_string(""),
              "Ondelle endpoint (WASAPI): Wohnzimmer K\xc3\xbc"
              "che");
    EXPECT_EQ(service.get("binary_path").as_string(""), command_line);
    EXPECT_EQ(service.get("type").as_int(0), 0x10);  // its own process
    EXPECT_EQ(service.get("start").as_int(0), 2);    // automatic
    EXPECT_EQ(service.get("account").as_string(""), "NT AUTHORITY\\LocalService");
    EXPECT_EQ(dump_json(service.get("dependencies")), R"(["Audiosrv"])");
    EXPECT_EQ(dump_json(service.get("failure_actions")),
              R"({"reset_s":86400,"actions":[{"type":1,"delay_ms":5000},)"
              R"({"type":1,"delay_ms":5000},{"type":0,"delay_ms":0}]})");
    EXPECT_NE(service.get("description").as_string("").find("USB DAC"), std::string::npos);
    const Json source = state().get("event_sources").get(name);
    EXPECT_EQ(source.get("EventMessageFile").as_string(""), exe);
    EXPECT_EQ(source.get("TypesSupported").as_int(0), 7);

    // Inbound, private networks only, from the local subnet, for this executable alone.
    const auto rule = [&](const std::string& what, int protocol, const std::string& ports) {
        return "\"" + name + " (" + what + ")\":{\"name\":\"" + name + " (" + what +
               ")\",\"description\":\"Lets Ondelle senders on this network reach the endpoint " +
               name + ".\",\"application\":\"" + exe +
               "\",\"protocol\":" + std::to_string(protocol) + ",\"local_ports\":\"" + ports +
               "\",\"remote_addresses\":\"LocalSubnet\",\"direction\":1,\"profiles\":2,"
               "\"action\":1,\"grouping\":\"Ondelle\",\"enabled\":true}";
    };
    EXPECT_EQ(dump_json(state().get("firewall_rules")),
              "{" + rule("endpoint", 6, "4725") + "," + rule("discovery", 17, "5353") + "}");

    const Finished removed = run_executable(
        ONDELLE_WASAPI_PATH, {"--uninstall-service", "--service-name", name}, machine());
    EXPECT_EQ(removed.code, 0) << removed.err;
    EXPECT_EQ(removed.out, "service \"" + name + "\" stopped\nservice \"" + name +
                               "\" deleted\nevent log source \"" + name +
                               "\" removed\nfirewall rules removed\n");
    EXPECT_EQ(dump_json(state()), R"({"services":{},"event_sources":{},"firewall_rules":{}})");
    const Finished again = run_executable(
        ONDELLE_WASAPI_PATH, {"--uninstall-service", "--service-name", name}, machine());
    EXPECT_EQ(again.code, 1);
    EXPECT_EQ(again.err, "ondelle-wasapi: no service named \"" + name + "\" is installed\n");
}

TEST_F(ServiceInstall, TheDirectServiceNamesItsDriverAndNeedsNoAudioService) {
    const Finished installed = run_executable(
        ONDELLE_DIRECT_PATH, {"--install-service", "--driver", "Studio", "--volume", "software"},
        machine());
    ASSERT_EQ(installed.code, 0) << installed.err;
    const Json service = state().get("services").get("Ondelle-Direct");
    EXPECT_EQ(service.get("display_name").as_string(""),
              "Ondelle endpoint (ASIO): DEN \xc2\xb7 Studio DAC");
    EXPECT_EQ(dump_json(service.get("dependencies")), "[]");
    EXPECT_EQ(service.get("binary_path").as_string(""),
              "\"" + std::filesystem::canonical(ONDELLE_DIRECT_PATH).string() +
                  "\" --service --driver Studio --volume software");
    EXPECT_EQ(run_executable(ONDELLE_DIRECT_PATH, {"--uninstall-service"}, machine()).code, 0);
}

// Every refusal says why and leaves the manager as it was.
TEST_F(ServiceInstall, RefusesWithoutRightsTwiceOrForAnOutputThatIsNotThere) {
    const Finished unelevated =
        run_executable(ONDELLE_WASAPI_PATH, {"--install-service"}, machine(false));
    EXPECT_EQ(unelevated.code, 1);
    EXPECT_EQ(unelevated.err,
              "ondelle-wasapi: installing or removing a service needs administrator rights: run "
              "this from an administrator console\n");
    EXPECT_FALSE(std::filesystem::exists(manager));

    const Finished nothing =
        run_executable(ONDELLE_WASAPI_PATH, {"--install-service", "--device", "Nope"}, machine());
    EXPECT_EQ(nothing.code, 1);
    EXPECT_EQ(nothing.err, "ondelle-wasapi: no output device \"Nope\" (ondelle-wasapi --list)\n");
    const Finished no_driver =
        run_executable(ONDELLE_DIRECT_PATH, {"--install-service", "--driver", "Nope"}, machine());
    EXPECT_EQ(no_driver.code, 1);
    EXPECT_FALSE(std::filesystem::exists(manager));

    ASSERT_EQ(
        run_executable(ONDELLE_WASAPI_PATH, {"--install-service", "--port", "4721"}, machine())
            .code,
        0);
    const Finished twice =
        run_executable(ONDELLE_WASAPI_PATH, {"--install-service", "--port", "4722"}, machine());
    EXPECT_EQ(twice.code, 1);
    EXPECT_EQ(twice.err,
              "ondelle-wasapi: a service named \"ondelle-wasapi\" exists already "
              "(--uninstall-service first, or --force)\n");
    EXPECT_NE(state()
                  .get("services")
                  .get("ondelle-wasapi")
                  .get("binary_path")
                  .as_string("")
                  .find("--port 4721"),
              std::string::npos);
    const Finished forced = run_executable(
        ONDELLE_WASAPI_PATH, {"--install-service", "--port", "4722", "--force"}, machine());
    EXPECT_EQ(forced.code, 0) << forced.err;
    EXPECT_NE(state()
                  .get("services")
                  .get("ondelle-wasapi")
                  .get("binary_path")
                  .as_string("")
                  .find("--port 4722"),
              std::string::npos);
    EXPECT_EQ(run_executable(ONDELLE_WASAPI_PATH, {"--install-service", "--list"}, machine()).code,
              2);
}

}  // namespace
}  // namespace ondelle::test

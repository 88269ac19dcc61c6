// What the tests of the Windows executables under Wine share: the programs and Wine's own
// tools, one prefix for the whole run (made once, the test ASIO driver registered in it),
// and a fixture that gives each test a folder and an ALSA configuration of its own.
//
// Wine ends every line a program writes with CRLF; lines are compared without the CR.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "e2e/program.h"
#include "helpers/peer.h"

namespace ondelle::test {

extern const std::string wine;
extern const std::string hello;  // what the tests' sender says first

std::string mingw_build();
std::string wasapi_exe();
std::string direct_exe();

std::string without_cr(std::string text);
// Z:\ is the Unix root in every Wine prefix.
std::string windows_path(const std::string& unix_path);
// The Unix path of a path on the prefix's C: drive ("Program Files/Ondelle").
std::string drive_c(const std::string& path);

// What ondelle-send --list finds; asked a few times, as an endpoint that has just started
// may still be announcing itself.
std::string endpoints_found(const std::string& wanted);

int run_wine(const TempDir& dir, const std::vector<std::string>& arguments,
             std::chrono::milliseconds timeout = 60s);
// What "reg query KEY /v VALUE" says the value is, or "" when it is not there.
std::string registry_value(const TempDir& dir, const std::string& key, const std::string& value);

// What "sc query NAME" says of the service's state ("RUNNING", "STOPPED", ...), or "" when
// it has none.
std::string service_state(const TempDir& dir, const std::string& name);
bool wait_for_service_state(const TempDir& dir, const std::string& name, const std::string& state,
                            std::chrono::seconds timeout = 30s);

// Each test has its own folder and, through HOME, its own ALSA configuration: Wine's audio
// goes to ALSA's default PCM, made here a file of what was played (named by the rate,
// channels, bits and sample format Wine opened) over the null device.
class UnderWine : public testing::Test {
  protected:
    void SetUp() override;

    std::unique_ptr<Program> start(const std::string& exe, std::vector<std::string> arguments,
                                   bool input_pipe = false);
    // Every file ALSA wrote, by name.
    std::map<std::string, std::string> alsa_files() const;
    // Sends one stream in 20 ms frames and waits until the endpoint says it was heard.
    static void play(Peer& sender, int stream, const std::string& kind, int rate, int bits,
                     const std::string& audio, int frame_bytes);

    TempDir dir;
    std::string captures;
};

// For services. The service manager starts a service with its own environment, made when the
// Wine server starts: the server is started afresh here so that it has this test's HOME (and
// so its ALSA configuration). Wine ends its services once no other program runs in the
// prefix, so a console waits on its input meanwhile.
class ServiceUnderWine : public UnderWine {
  protected:
    void SetUp() override;
    void TearDown() override;

    // The test driver does not see the test's environment in a service: it reads its
    // settings from the registry instead, until the test ends.
    void set_driver_settings(const std::map<std::string, std::string>& settings);

  private:
    std::unique_ptr<Program> keeper_;
    bool driver_settings_ = false;
};

}  // namespace ondelle::test

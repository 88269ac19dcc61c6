// Ondelle-Direct as users start it: it lists its driver, advertises, prints its banner,
// plays, and ends with exit 0 on SIGINT while a stream plays. It advertises, so it runs in
// the private test namespace with the other advertising tests.
#include <gtest/gtest.h>

#include <csignal>

#include "e2e/program.h"
#include "helpers/peer.h"

namespace ondelle::test {
namespace {

TEST(DirectAdvertised, BannerThenPlaysUntilSigint) {
    if (!std::getenv("ONDELLE_PRIVATE_NET"))
        GTEST_SKIP() << "the program advertises: run in the private test namespace";
    TempDir dir;
    const int port = free_port();
    Program program(dir, ONDELLE_DIRECT_PATH, {"--driver", "USB", "--port", std::to_string(port)},
                    R"({"computer_name":"DEN","asio_drivers":[{"name":"USB DAC","sample_type":17,)"
                    R"("rates":[44100,48000],"dsd":true}]})");
    ASSERT_TRUE(program.wait_for_out("Ondelle endpoint")) << program.err();
    EXPECT_EQ(program.out(),
              "USB DAC\n"
              "    PCM: 44100 48000  (sample type 17)\n"
              "    native DSD: DSD64 DSD128 DSD256  (MSB-first)\n"
              "Ondelle endpoint \"DEN \xc2\xb7 USB DAC\" on port " +
                  std::to_string(port) + " (volume fixed)\n");
    std::string welcome;
    Peer sender =
        Peer::hello(port, R"({"t":"hello","proto":2,"sender":{"id":"s","name":"S"}})", &welcome);
    ASSERT_TRUE(sender.connected());
    EXPECT_NE(welcome.find(R"("id":"Ondelle-Direct-DEN-usbdac")"), std::string::npos) << welcome;
    ASSERT_TRUE(sender.send_json(R"({"t":"start","stream":1,"format":{"kind":"pcm","rate":48000,)"
                                 R"("bits":24,"channels":2,"codec":"pcm"}})"));
    const std::string chunk(960 * 6, '\x11');
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(sender.send_audio(1, chunk));
    ASSERT_TRUE(program.wait_for_err("PCM 48000 24-bit \xe2\x86\x92 type 17, buffer 512\n"));
    program.send_signal(SIGINT);
    EXPECT_EQ(program.wait_exit(), 0) << program.err();
}

}  // namespace
}  // namespace ondelle::test

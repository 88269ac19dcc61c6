// The three programs' command lines as users meet them, run as built: help, version, every
// kind of bad value with its exit code and first line, the edge values that are good, and
// the README's copy of each --help.
#include <gtest/gtest.h>

#include "e2e/program.h"

namespace ondelle::test {
namespace {

const std::string wasapi = ONDELLE_WASAPI_PATH;
const std::string direct = ONDELLE_DIRECT_PATH;
const std::string sender = ONDELLE_SEND_PATH;

std::string first_line(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

struct LineCase {
    std::vector<std::string> arguments;
    int code;
    std::string first;  // of standard output when the code is 0, else of standard error
};

void expect_cases(const std::string& executable, const std::vector<LineCase>& cases) {
    for (const auto& c : cases) {
        const Finished run = run_executable(executable, c.arguments);
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        EXPECT_EQ(run.code, c.code) << run.err;
        EXPECT_EQ(first_line(c.code == 0 ? run.out : run.err), c.first);
    }
}

TEST(CommandLines, OndelleWasapi) {
    const std::string usage =
        "usage: ondelle-wasapi [--device NAME] [--name S] [--port N] "
        "[--dop] [--buffer MS] [--away-buffer MS] [--away-burst MS] "
        "[--flac all|forwarded] [--local-sender ID] [--follow-system] "
        "[--mix] [--any-address] [--wait] [--log FILE] [--list] [--service] "
        "[--service-name NAME]";
    const std::string port = "ondelle-wasapi: --port needs a number from 0 to 65535";
    const std::string buffer = "ondelle-wasapi: --buffer needs a number from 0 to 60000";
    expect_cases(
        wasapi,
        {
            {{"--help"}, 0, usage},
            {{"--list", "-h"}, 0, usage},
            {{"--port", "99999"}, 2, port},
            {{"--port", "abc"}, 2, port},
            {{"--port", "-1"}, 2, port},
            {{"--port"}, 2, port},
            {{"--buffer", "abc"}, 2, buffer},
            {{"--buffer", "1.5"}, 2, buffer},
            {{"--away-burst", "60001"},
             2,
             "ondelle-wasapi: --away-burst needs a number from 0 to 60000"},
            {{"--flac", "bogus"}, 2, "ondelle-wasapi: --flac needs one of all|forwarded"},
            {{"--device"}, 2, "ondelle-wasapi: --device needs a value (NAME)"},
            {{"--bogus"}, 2, "ondelle-wasapi: unknown option --bogus"},
            {{"--port", "0", "--list"}, 0, "Speakers (Simulated DAC)"},
            {{"--port", "65535", "--buffer", "60000", "--list"}, 0, "Speakers (Simulated DAC)"},
        });
    const Finished version = run_executable(wasapi, {"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out.rfind("ondelle-wasapi 0.", 0), 0u) << version.out;
    const Finished bad = run_executable(wasapi, {"--bogus"});
    EXPECT_EQ(bad.err, "ondelle-wasapi: unknown option --bogus\n" + usage +
                           "\n       ondelle-wasapi --install-service [--force] [OPTION]... | "
                           "--uninstall-service [--service-name NAME]\n");
    EXPECT_EQ(bad.out, "");
}

TEST(CommandLines, OndelleDirect) {
    const std::string usage =
        "usage: Ondelle-Direct --list | --driver NAME [--name S] [--port N] "
        "[--buffer MS] [--volume fixed|software]";
    expect_cases(
        direct,
        {
            {{"--help"}, 0, usage},
            {{"-h"}, 0, usage},
            {{"--port", "65536"}, 2, "Ondelle-Direct: --port needs a number from 0 to 65535"},
            {{"--buffer", "-5"}, 2, "Ondelle-Direct: --buffer needs a number from 0 to 60000"},
            {{"--volume", "Software"}, 2, "Ondelle-Direct: --volume needs one of fixed|software"},
            {{"--drivers"}, 2, "Ondelle-Direct: unknown option --drivers"},
            {{"--list", "--port", "0"}, 0, "Simulated ASIO DAC"},
            {{"--list", "--port", "65535"}, 0, "Simulated ASIO DAC"},
        });
    const Finished version = run_executable(direct, {"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out.rfind("Ondelle-Direct 0.", 0), 0u) << version.out;
}

TEST(CommandLines, OndelleSend) {
    const std::string usage = "usage: ondelle-send --list";
    const std::string volume = "ondelle-send: --volume needs a number from 0 to 100";
    // Nothing listens on port 1: a good command line gets as far as connecting.
    const std::string nowhere = "127.0.0.1:1";
    expect_cases(sender, {
                             {{"--help"}, 0, usage},
                             {{"--volume", "101", "x.wav"}, 2, volume},
                             {{"--volume", "abc", "x.wav"}, 2, volume},
                             {{"-v"}, 2, "ondelle-send: unknown option -v"},
                             {{}, 2, "ondelle-send: no file to play"},
                             {{"--list", "x.wav"}, 2, "ondelle-send: --list takes no file"},
                             {{"--to", nowhere, "--volume", "0", "x.wav"},
                              4,
                              "ondelle-send: cannot connect to 127.0.0.1:1: Connection refused"},
                             {{"--to", nowhere, "--volume", "100", "x.wav"},
                              4,
                              "ondelle-send: cannot connect to 127.0.0.1:1: Connection refused"},
                         });
    const Finished version = run_executable(sender, {"x.wav", "--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out.rfind("ondelle-send 0.", 0), 0u) << version.out;
}

// What the README shows of each program is what its --help prints.
TEST(CommandLines, TheReadmeShowsEachHelpAsItIs) {
    const std::string readme = read_file(ONDELLE_README_PATH);
    for (const std::string& executable : {wasapi, direct, sender}) {
        const Finished help = run_executable(executable, {"--help"});
        ASSERT_EQ(help.code, 0);
        EXPECT_NE(readme.find("```\n" + help.out + "```\n"), std::string::npos)
            << "README.md lacks, in a block of its own:\n"
            << help.out;
    }
}

}  // namespace
}  // namespace ondelle::test

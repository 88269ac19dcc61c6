// Ondelle-Direct's command line: values, defaults of the two modes, and what is refused.
#include "options.h"

#include <gtest/gtest.h>

namespace ondelle {
namespace {

Options parsed(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "Ondelle-Direct");
    Options options;
    EXPECT_TRUE(parse_options(arguments, options));
    return options;
}

TEST(DirectOptions, DefaultsDependOnLocalMode) {
    struct Case {
        std::vector<std::string> arguments;
        int port;
        int buffer_ms;
    };
    for (const auto& c :
         std::vector<Case>{{{}, 4720, 2000},
                           {{"--local"}, 0, 500},
                           {{"--port", "-1", "--buffer", "0"}, 4720, 2000},
                           {{"--local", "--port", "4800", "--buffer", "-5"}, 4800, 500},
                           {{"--port", "0", "--buffer", "750"}, 0, 750},
                           {{"--port", "x"}, 0, 2000}}) {
        const Options options = parsed(c.arguments);
        EXPECT_EQ(options.effective_port(), c.port);
        EXPECT_EQ(options.effective_buffer_ms(), c.buffer_ms);
    }
}

TEST(DirectOptions, ValuesAreTakenWhateverTheyLookLike) {
    const Options options = parsed({"--driver", "--list", "--name", "Den", "--volume", "Software",
                                    "--no-output-ready", "--any-address", "--panel", "--name"});
    EXPECT_FALSE(options.list);
    EXPECT_EQ(options.driver, "--list");
    EXPECT_EQ(options.name, "");  // a value option in last position gets an empty value
    EXPECT_FALSE(options.software_volume);
    EXPECT_TRUE(options.no_output_ready);
    EXPECT_TRUE(options.any_address);
    EXPECT_TRUE(options.panel);
    EXPECT_TRUE(parsed({"--volume", "software"}).software_volume);
}

TEST(DirectOptions, AnythingElseIsAUsageError) {
    for (const char* argument : {"--help", "-list", "--List", "list", ""}) {
        Options options;
        EXPECT_FALSE(parse_options({"Ondelle-Direct", "--list", argument}, options)) << argument;
    }
}

}  // namespace
}  // namespace ondelle

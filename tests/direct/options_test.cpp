// Ondelle-Direct's command line: values, defaults of the two modes, and what is refused.
#include "options.h"

#include <gtest/gtest.h>

namespace ondelle::direct {
namespace {

Options parsed(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "Ondelle-Direct");
    Options options;
    std::string error;
    EXPECT_EQ(parse_command_line(command_line(options), arguments, error), Parsed::run) << error;
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
                           {{"--buffer", "0"}, 4720, 2000},
                           {{"--local", "--port", "4800", "--buffer", "0"}, 4800, 500},
                           {{"--port", "0", "--buffer", "750"}, 0, 750}}) {
        const Options options = parsed(c.arguments);
        EXPECT_EQ(options.effective_port(), c.port);
        EXPECT_EQ(options.effective_buffer_ms(), c.buffer_ms);
    }
}

TEST(DirectOptions, ValuesAreTakenAsGiven) {
    const Options options = parsed({"--driver", "--list", "--name", "Den", "--volume", "software",
                                    "--no-output-ready", "--any-address", "--panel"});
    EXPECT_FALSE(options.list);
    EXPECT_EQ(options.driver, "--list");
    EXPECT_EQ(options.name, "Den");
    EXPECT_TRUE(options.software_volume());
    EXPECT_TRUE(options.no_output_ready);
    EXPECT_TRUE(options.any_address);
    EXPECT_TRUE(options.panel);
    EXPECT_FALSE(parsed({"--volume", "fixed"}).software_volume());
}

}  // namespace
}  // namespace ondelle::direct

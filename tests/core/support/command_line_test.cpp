// The table behind every program's command line: values checked and stored, usage errors
// named, help and version found wherever they stand, and the help text drawn from the table.
#include "support/command_line.h"

#include <gtest/gtest.h>

namespace ondelle {
namespace {

struct Stored {
    bool flag = false;
    std::string text;
    int number = 7;
    std::string choice = "one";
    std::vector<std::string> operands;
};

CommandLine table(Stored& s, bool operands = false) {
    CommandLine line;
    line.program = "prog";
    line.usage = "usage: prog [--flag] [--text S] [--number N] [--choice one|two]\n";
    line.options = {switch_option("--flag", "a switch", s.flag),
                    text_option("--text", "S", "some text", "", s.text),
                    number_option("--number", "N", "a number", "7", 0, 65535, s.number),
                    choice_option("--choice", {"one", "two"}, "a choice", "one", s.choice)};
    if (operands) line.operand = [&s](const std::string& a) { s.operands.push_back(a); };
    return line;
}

struct LineCase {
    std::vector<std::string> arguments;
    Parsed parsed;
    std::string error;
};

TEST(CommandLine, ChecksEveryValueAndNamesWhatIsWrong) {
    const std::vector<LineCase> cases = {
        {{}, Parsed::run, ""},
        {{"--number", "0", "--number", "65535"}, Parsed::run, ""},
        {{"--text", "--flag"}, Parsed::run, ""},
        {{"--bogus"}, Parsed::usage_error, "prog: unknown option --bogus"},
        {{"file"}, Parsed::usage_error, "prog: unknown option file"},
        {{"--number", "65536"},
         Parsed::usage_error,
         "prog: --number needs a number from 0 to 65535"},
        {{"--number", "-1"}, Parsed::usage_error, "prog: --number needs a number from 0 to 65535"},
        {{"--number", "12abc"},
         Parsed::usage_error,
         "prog: --number needs a number from 0 to 65535"},
        {{"--number", "99999999999999999999"},
         Parsed::usage_error,
         "prog: --number needs a number from 0 to 65535"},
        {{"--number", ""}, Parsed::usage_error, "prog: --number needs a number from 0 to 65535"},
        {{"--number"}, Parsed::usage_error, "prog: --number needs a number from 0 to 65535"},
        {{"--text"}, Parsed::usage_error, "prog: --text needs a value (S)"},
        {{"--choice", "three"}, Parsed::usage_error, "prog: --choice needs one of one|two"},
        {{"--choice", "One"}, Parsed::usage_error, "prog: --choice needs one of one|two"},
        {{"--bogus", "--help"}, Parsed::help, ""},
        {{"--number", "x", "-h"}, Parsed::help, ""},
        {{"--number", "x", "--version"}, Parsed::version, ""},
    };
    for (const auto& c : cases) {
        Stored stored;
        auto arguments = c.arguments;
        arguments.insert(arguments.begin(), "prog");
        std::string error;
        EXPECT_EQ(parse_command_line(table(stored), arguments, error), c.parsed)
            << testing::PrintToString(c.arguments);
        EXPECT_EQ(error, c.error);
    }
}

TEST(CommandLine, StoresWhatItTakes) {
    Stored s;
    std::string error;
    ASSERT_EQ(parse_command_line(table(s, true),
                                 {"prog", "a.wav", "--flag", "--text", "x y", "--number", "4720",
                                  "--choice", "two", "b.flac"},
                                 error),
              Parsed::run);
    EXPECT_TRUE(s.flag);
    EXPECT_EQ(s.text, "x y");
    EXPECT_EQ(s.number, 4720);
    EXPECT_EQ(s.choice, "two");
    EXPECT_EQ(s.operands, (std::vector<std::string>{"a.wav", "b.flac"}));
    // A dash starts an option, even among files.
    EXPECT_EQ(parse_command_line(table(s, true), {"prog", "-x"}, error), Parsed::usage_error);
}

TEST(CommandLine, HelpIsTheUsageThenOneLinePerOption) {
    Stored s;
    EXPECT_EQ(help_text(table(s)),
              "usage: prog [--flag] [--text S] [--number N] [--choice one|two]\n"
              "\n"
              "  --flag                    a switch\n"
              "  --text S                  some text\n"
              "  --number N                a number (default: 7)\n"
              "  --choice one|two          a choice (default: one)\n"
              "  --help, -h                show this help\n"
              "  --version                 show the version\n");
}

}  // namespace
}  // namespace ondelle

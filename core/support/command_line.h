// A program's command line as one table: each option with its value, what it does and its
// default. The same table parses the arguments, checks their values and writes --help, so
// that what a program takes and what it says it takes cannot drift apart.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ondelle {

struct OptionSpec {
    std::string name;          // "--port"
    std::string value;         // what --help calls its value ("N"); empty for a switch
    std::string help;          // what it does
    std::string default_text;  // empty: --help names no default
    std::string needs;         // what a bad or missing value hears: "needs a number from 0 to 9"
    // Stores the value (empty for a switch); false when it is not one the option takes.
    std::function<bool(const std::string& value)> take;
};

// The makers of the usual kinds.
OptionSpec switch_option(std::string name, std::string help, bool& target);
OptionSpec text_option(std::string name, std::string value, std::string help,
                       std::string default_text, std::string& target);
// A whole number from min to max, written as digits only.
OptionSpec number_option(std::string name, std::string value, std::string help,
                         std::string default_text, int min, int max, int& target);
// One of choices, as written.
OptionSpec choice_option(std::string name, const std::vector<std::string>& choices,
                         std::string help, std::string default_text, std::string& target);

struct CommandLine {
    std::string program;  // "ondelle-wasapi"
    std::string usage;    // the usage text, line end included
    std::vector<OptionSpec> options;
    // Arguments that are not options (files); null: such an argument is an error.
    std::function<void(const std::string& argument)> operand;
};

enum class Parsed { run, help, version, usage_error };

// Reads arguments (the first is the program): --help or -h and --version win wherever they
// stand; otherwise every option is taken in order. A usage error fills error with the line to
// print before the usage text ("ondelle-wasapi: unknown option --bogus").
Parsed parse_command_line(const CommandLine& line, const std::vector<std::string>& arguments,
                          std::string& error);

// The usage text, then one line per option with what it does and its default.
std::string help_text(const CommandLine& line);

// What a program's main does with its arguments first: the help (on standard output, exit
// code 0), the version (0), or a usage error and the usage text (on standard error, 2); no
// exit code when the program runs on with the options stored.
std::optional<int> answer_command_line(const CommandLine& line,
                                       const std::vector<std::string>& arguments);

}  // namespace ondelle

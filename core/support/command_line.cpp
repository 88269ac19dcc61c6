// Parsing, checking and describing a command line from its table of options.
#include "support/command_line.h"

#include <algorithm>
#include <cstdio>

#include "support/version.h"

namespace ondelle {
namespace {

constexpr std::size_t help_column = 28;

bool is_help(const std::string& argument) {
    return argument == "--help" || argument == "-h";
}

}  // namespace

OptionSpec switch_option(std::string name, std::string help, bool& target) {
    return {std::move(name), "", std::move(help), "", "", [&target](const std::string&) {
                target = true;
                return true;
            }};
}

OptionSpec text_option(std::string name, std::string value, std::string help,
                       std::string default_text, std::string& target) {
    std::string needs = "needs a value (" + value + ")";
    return {std::move(name),
            std::move(value),
            std::move(help),
            std::move(default_text),
            std::move(needs),
            [&target](const std::string& text) {
                target = text;
                return true;
            }};
}

OptionSpec number_option(std::string name, std::string value, std::string help,
                         std::string default_text, int min, int max, int& target) {
    return {std::move(name),
            std::move(value),
            std::move(help),
            std::move(default_text),
            "needs a number from " + std::to_string(min) + " to " + std::to_string(max),
            [&target, min, max](const std::string& text) {
                long long number = 0;
                bool whole = !text.empty() && text.size() <= 10;
                for (const char c : text) {
                    whole = whole && c >= '0' && c <= '9';
                    if (whole) number = number * 10 + (c - '0');
                }
                if (!whole || number < min || number > max) return false;
                target = static_cast<int>(number);
                return true;
            }};
}

OptionSpec choice_option(std::string name, const std::vector<std::string>& choices,
                         std::string help, std::string default_text, std::string& target) {
    std::string value;
    for (const auto& choice : choices)
        value += (value.empty() ? "" : "|") + choice;
    return {std::move(name),
            value,
            std::move(help),
            std::move(default_text),
            "needs one of " + value,
            [&target, choices](const std::string& text) {
                if (std::find(choices.begin(), choices.end(), text) == choices.end()) return false;
                target = text;
                return true;
            }};
}

Parsed parse_command_line(const CommandLine& line, const std::vector<std::string>& arguments,
                          std::string& error) {
    if (std::any_of(arguments.begin() + std::min<std::size_t>(1, arguments.size()), arguments.end(),
                    is_help))
        return Parsed::help;
    if (std::find(arguments.begin() + std::min<std::size_t>(1, arguments.size()), arguments.end(),
                  "--version") != arguments.end())
        return Parsed::version;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const auto spec = std::find_if(line.options.begin(), line.options.end(),
                                       [&](const OptionSpec& o) { return o.name == argument; });
        if (spec == line.options.end()) {
            if (line.operand && !(argument.size() > 1 && argument[0] == '-')) {
                line.operand(argument);
                continue;
            }
            error = line.program + ": unknown option " + argument;
            return Parsed::usage_error;
        }
        std::string value;
        if (!spec->value.empty()) {
            if (i + 1 >= arguments.size()) {
                error = line.program + ": " + spec->name + " " + spec->needs;
                return Parsed::usage_error;
            }
            value = arguments[++i];
        }
        if (!spec->take(value)) {
            error = line.program + ": " + spec->name + " " + spec->needs;
            return Parsed::usage_error;
        }
    }
    return Parsed::run;
}

std::string help_text(const CommandLine& line) {
    std::string text = line.usage + "\n";
    const auto add = [&](const std::string& left, const std::string& help) {
        std::string row = "  " + left;
        row += row.size() < help_column ? std::string(help_column - row.size(), ' ') : "  ";
        text += row + help + "\n";
    };
    for (const auto& option : line.options) {
        std::string help = option.help;
        if (!option.default_text.empty()) help += " (default: " + option.default_text + ")";
        add(option.value.empty() ? option.name : option.name + " " + option.value, help);
    }
    add("--help, -h", "show this help");
    add("--version", "show the version");
    return text;
}

std::optional<int> answer_command_line(const CommandLine& line,
                                       const std::vector<std::string>& arguments) {
    std::string error;
    switch (parse_command_line(line, arguments, error)) {
        case Parsed::help:
            std::fputs(help_text(line).c_str(), stdout);
            return 0;
        case Parsed::version:
            std::puts(version_line(line.program).c_str());
            return 0;
        case Parsed::usage_error:
            std::fputs((error + "\n" + line.usage).c_str(), stderr);
            return 2;
        case Parsed::run:
            break;
    }
    return std::nullopt;
}

}  // namespace ondelle

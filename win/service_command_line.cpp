// Quoting for the Windows runtime's command-line parsing.
#include "win/service_command_line.h"

#include "support/text.h"

namespace ondelle {
namespace {

std::wstring quoted(const std::wstring& argument) {
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count only before a quote: there each one is doubled, and the quote
        // escaped; elsewhere they stay as they are.
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        out += c;
        backslashes = 0;
    }
    out.append(2 * backslashes, L'\\');  // before the closing quote
    out += L'"';
    return out;
}

}  // namespace

std::wstring quote_argument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return argument;
    return quoted(argument);
}

std::wstring service_command_line(const std::wstring& executable,
                                  const std::vector<std::string>& arguments) {
    std::wstring line = quoted(executable) + L" --service";
    for (const std::string& argument : arguments)
        line += L" " + quote_argument(to_wide(argument));
    return line;
}

}  // namespace ondelle

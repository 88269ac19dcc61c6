// The service's command line read back by the rules of the Windows runtime's parsing, written
// out here as an independent reader.
#include "win/service_command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/text.h"

namespace ondelle {
namespace {

// The runtime's rules: whitespace ends an item outside quotes; 2n backslashes before a quote
// give n and the quote opens or closes; 2n+1 give n and a literal quote; other backslashes
// are literal.
std::vector<std::wstring> parse(const std::wstring& line) {
    std::vector<std::wstring> items;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == L' ' || line[i] == L'\t'))
            ++i;
        if (i == line.size()) break;
        std::wstring item;
        bool quoted = false;
        while (i < line.size()) {
            const wchar_t c = line[i];
            if (c == L'\\') {
                std::size_t n = 0;
                while (i < line.size() && line[i] == L'\\') {
                    ++n;
                    ++i;
                }
                if (i < line.size() && line[i] == L'"') {
                    item.append(n / 2, L'\\');
                    if (n % 2 == 1) {
                        item += L'"';
                        ++i;
                    }
                } else {
                    item.append(n, L'\\');
                }
            } else if (c == L'"') {
                quoted = !quoted;
                ++i;
            } else if ((c == L' ' || c == L'\t') && !quoted) {
                break;
            } else {
                item += c;
                ++i;
            }
        }
        items.push_back(item);
    }
    return items;
}

TEST(ServiceCommandLine, EveryArgumentComesBackAsItWas) {
    const std::vector<std::string> arguments = {
        "--device",
        "Speakers (USB DAC)",
        "--name",
        "Wohnzimmer \xc2\xb7 K\xc3\xbc"
        "che",
        "",
        "a\"b",
        "C:\\path with space\\",
        "tab\there",
        "two\\\\\"quotes",
        "\xe6\x97\xa5\xe6\x9c\xac",
        "--port",
        "4721",
        "plain\\path\\",
    };
    const std::wstring exe = L"C:\\Program Files\\Ondelle\\ondelle-wasapi.exe";
    const std::vector<std::wstring> items = parse(service_command_line(exe, arguments));
    ASSERT_EQ(items.size(), arguments.size() + 2);
    EXPECT_EQ(items[0], exe);
    EXPECT_EQ(items[1], L"--service");
    for (std::size_t k = 0; k < arguments.size(); ++k)
        EXPECT_EQ(to_utf8(items[k + 2]), arguments[k]) << k;
}

TEST(ServiceCommandLine, QuotesOnlyWhatNeedsIt) {
    struct Case {
        std::wstring argument;
        std::wstring written;
    };
    for (const Case& c : std::vector<Case>{{L"--mix", L"--mix"},
                                           {L"C:\\logs\\", L"C:\\logs\\"},
                                           {L"", L"\"\""},
                                           {L"My DAC", L"\"My DAC\""},
                                           {L"a\"b", L"\"a\\\"b\""},
                                           {L"end\\ ", L"\"end\\ \""},
                                           {L"dir with space\\", L"\"dir with space\\\\\""}})
        EXPECT_EQ(quote_argument(c.argument), c.written);
    EXPECT_EQ(service_command_line(L"C:\\O\\Ondelle-Direct.exe", {"--driver", "X"}),
              L"\"C:\\O\\Ondelle-Direct.exe\" --service --driver X");
}

}  // namespace
}  // namespace ondelle

#include <gtest/gtest.h>

#include "support/text.h"

namespace ondelle {
namespace {

std::wstring units(std::initializer_list<unsigned> list) {
    std::wstring s;
    for (const unsigned u : list)
        s += static_cast<wchar_t>(u);
    return s;
}

TEST(Text, ToUtf8) {
    const struct {
        std::wstring wide;
        std::string utf8;
    } cases[] = {
        {units({0xE9}), "\xC3\xA9"},
        {units({}), ""},
        {units({'a', 0x20AC}), "a\xE2\x82\xAC"},
        {units({0xD83D, 0xDE00}), "\xF0\x9F\x98\x80"},
        {units({0xD83D}), "\xEF\xBF\xBD"},
        {units({0xDE00, 'x'}), "\xEF\xBF\xBDx"},
        {units({0xD83D, 'x'}), "\xEF\xBF\xBDx"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(to_utf8(c.wide), c.utf8);
}

TEST(Text, ToWide) {
    const struct {
        std::string utf8;
        std::wstring wide;
    } cases[] = {
        {"\xC3\xA9", units({0xE9})},
        {"\xFF", units({0xFFFD})},
        {"", units({})},
        {"\xF0\x9F\x98\x80", units({0xD83D, 0xDE00})},
        {"a\xC3", units({'a', 0xFFFD})},
        {"\xE2\x82x", units({0xFFFD, 'x'})},
        {"\xED\xA0\x80", units({0xFFFD, 0xFFFD, 0xFFFD})},  // an encoded surrogate
        {"\xC0\xAF", units({0xFFFD, 0xFFFD})},              // overlong
        {std::string("ab\0cd", 5), units({'a', 'b'})},      // up to the terminator
    };
    for (const auto& c : cases)
        EXPECT_EQ(to_wide(c.utf8), c.wide);
}

TEST(Text, ArgumentsPassThroughAsUtf8) {
    char program[] = "ondelle";
    char name[] = "--name";
    char value[] =
        "K\xC3\xBC"
        "che";
    char* argv[] = {program, name, value};
    EXPECT_EQ(utf8_arguments(3, argv), (std::vector<std::string>{"ondelle", "--name",
                                                                 "K\xC3\xBC"
                                                                 "che"}));
}

}  // namespace
}  // namespace ondelle

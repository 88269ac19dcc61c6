#include <gtest/gtest.h>

#include "support/base64.h"

namespace ondelle {
namespace {

TEST(Base64, Encodes) {
    EXPECT_EQ(base64_encode("abc"), "YWJj");
    EXPECT_EQ(base64_encode("a"), "YQ==");
    EXPECT_EQ(base64_encode("ab"), "YWI=");
    EXPECT_EQ(base64_encode(""), "");
    EXPECT_EQ(base64_encode(std::string("\xff\x00\xfe", 3)), "/wD+");
}

TEST(Base64, Decodes) {
    const struct {
        std::string text;
        std::string bytes;
    } cases[] = {
        {"YQ==", "a"},
        {"YQ", "a"},
        {"YWJj=garbage", "abc"},
        {"YW Jj", ""},
        {"Y", ""},
        {"", ""},
        {"YWJj\n", ""},
        {"/wD+", std::string("\xff\x00\xfe", 3)},
        {"=YWJj", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(base64_decode(c.text), c.bytes) << c.text;
}

TEST(Base64, EveryByteSurvivesTheRoundTrip) {
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    for (std::size_t n = 0; n <= all.size(); n += 37) {
        EXPECT_EQ(base64_decode(base64_encode(all.substr(0, n))), all.substr(0, n));
    }
}

}  // namespace
}  // namespace ondelle

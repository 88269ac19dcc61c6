// Base64 in both directions, as the protocol's JSON texts carry binary data.
#include "support/base64.h"

#include <array>
#include <cstdint>

namespace ondelle {
namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t invalid = 0xFF;

constexpr std::array<std::uint8_t, 256> make_decode_table() {
    std::array<std::uint8_t, 256> table{};
    for (auto& entry : table)
        entry = invalid;
    for (std::uint8_t i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(alphabet[i])] = i;
    return table;
}

constexpr auto decode_table = make_decode_table();

}  // namespace

std::string base64_encode(const std::string& bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t left = bytes.size();
    for (; left >= 3; left -= 3, p += 3) {
        out += alphabet[p[0] >> 2];
        out += alphabet[((p[0] & 3) << 4) | (p[1] >> 4)];
        out += alphabet[((p[1] & 15) << 2) | (p[2] >> 6)];
        out += alphabet[p[2] & 63];
    }
    if (left == 1) {
        out += alphabet[p[0] >> 2];
        out += alphabet[(p[0] & 3) << 4];
        out += "==";
    } else if (left == 2) {
        out += alphabet[p[0] >> 2];
        out += alphabet[((p[0] & 3) << 4) | (p[1] >> 4)];
        out += alphabet[(p[1] & 15) << 2];
        out += '=';
    }
    return out;
}

std::string base64_decode(const std::string& text) {
    std::string out;
    out.reserve(text.size() / 4 * 3 + 3);
    std::uint32_t bits = 0;
    int pending = 0;
    for (const char c : text) {
        if (c == '=') break;
        const std::uint8_t value = decode_table[static_cast<unsigned char>(c)];
        if (value == invalid) return {};
        bits = (bits << 6) | value;
        pending += 6;
        if (pending >= 8) {
            pending -= 8;
            out += static_cast<char>((bits >> pending) & 0xFF);
        }
    }
    return out;
}

}  // namespace ondelle

// UTF-8 one code point at a time, and the checks made on text that peers send.
#pragma once

#include <cstdint>
#include <string>

namespace ondelle {

inline void append_utf8(std::uint32_t cp, std::string& out) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Decodes one code point starting at p; advances p past it, or past the maximal ill-formed
// subpart (at least one byte) and returns U+FFFD.
inline std::uint32_t decode_utf8(const unsigned char*& p, const unsigned char* end) {
    constexpr std::uint32_t replacement = 0xFFFD;
    const unsigned char lead = *p++;
    if (lead < 0x80) return lead;
    int trailing;
    std::uint32_t cp;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the first trailing byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        trailing = 1;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        trailing = 2;
        cp = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        trailing = 3;
        cp = lead & 0x07;
        if (lead == 0xF0) low = 0x90;   // overlong
        if (lead == 0xF4) high = 0x8F;  // beyond U+10FFFF
    } else {
        return replacement;
    }
    for (int i = 0; i < trailing; ++i) {
        if (p == end || *p < low || *p > high) return replacement;
        cp = (cp << 6) | (*p++ & 0x3F);
        low = 0x80;
        high = 0xBF;
    }
    return cp;
}

// The text with every ill-formed sequence replaced by U+FFFD (one per maximal ill-formed
// subpart); well-formed text comes back unchanged.
std::string valid_utf8(const std::string& text);

// The text with every control character (below 0x20, and 0x7F) written as \xNN, so that
// what a peer sent can neither break a log line nor reach a terminal raw.
std::string escape_controls(const std::string& text);

}  // namespace ondelle

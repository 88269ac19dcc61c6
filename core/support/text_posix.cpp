// UTF-8 / UTF-16 conversion without the Windows calls, with the same results: ill-formed
// input becomes U+FFFD, one per maximal ill-formed subpart.
#include "support/text.h"

#include <cstdint>
#include <cwchar>

#include "support/utf8.h"

namespace ondelle {
namespace {

constexpr std::uint32_t replacement = 0xFFFD;

}  // namespace

std::string to_utf8(const wchar_t* text) {
    std::string out;
    if (text == nullptr) return out;
    for (const wchar_t* p = text; *p != 0; ++p) {
        const auto unit = static_cast<std::uint32_t>(*p) & 0xFFFF;
        if ((unit & 0xFC00) == 0xD800) {
            const auto next = static_cast<std::uint32_t>(p[1]) & 0xFFFF;
            if (p[1] != 0 && (next & 0xFC00) == 0xDC00) {
                append_utf8(0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00), out);
                ++p;
            } else {
                append_utf8(replacement, out);
            }
        } else if ((unit & 0xFC00) == 0xDC00) {
            append_utf8(replacement, out);
        } else {
            append_utf8(unit, out);
        }
    }
    return out;
}

std::string to_utf8(const std::wstring& text) {
    return to_utf8(text.c_str());
}

std::wstring to_wide(const std::string& text) {
    std::wstring out;
    const auto* p = reinterpret_cast<const unsigned char*>(text.c_str());
    const unsigned char* end = p + std::char_traits<char>::length(text.c_str());
    out.reserve(static_cast<std::size_t>(end - p));
    while (p != end) {
        const std::uint32_t cp = decode_utf8(p, end);
        if (cp >= 0x10000) {
            out += static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out += static_cast<wchar_t>(cp);
        }
    }
    return out;
}

std::vector<std::string> utf8_arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

}  // namespace ondelle

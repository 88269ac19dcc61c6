// Text from peers made safe to relay and to log.
#include "support/utf8.h"

#include <algorithm>
#include <cstdio>

namespace ondelle {

std::string valid_utf8(const std::string& text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = p + text.size();
    std::string out;
    out.reserve(text.size());
    while (p != end) {
        const auto* const start = p;
        const std::uint32_t cp = decode_utf8(p, end);
        if (cp == 0xFFFD && !(p - start == 3 && start[0] == 0xEF))
            append_utf8(cp, out);  // an ill-formed part, not a U+FFFD that was there
        else
            out.append(reinterpret_cast<const char*>(start), static_cast<std::size_t>(p - start));
    }
    return out;
}

std::string escape_controls(const std::string& text) {
    const auto is_control = [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    };
    if (std::none_of(text.begin(), text.end(), is_control)) return text;
    std::string out;
    for (const char c : text) {
        if (!is_control(c)) {
            out += c;
            continue;
        }
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(c));
        out += escaped;
    }
    return out;
}

}  // namespace ondelle

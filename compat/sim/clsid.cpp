// Class identifiers as text: CLSIDFromString, and the identifier a simulated driver gets
// from its name when its configuration names none.
#include <windows.h>

#include <cstdio>
#include <string>

#include "clsid.h"
#include "support/text.h"

namespace compat {

std::string derived_clsid_text(const std::string& name) {
    // Two FNV-1a hashes of the name fill the sixteen bytes, so that equal names give equal
    // identifiers and different names, in practice, different ones.
    std::uint64_t a = 0xcbf29ce484222325ull;
    std::uint64_t b = 0x84222325cbf29ce4ull;
    for (const char c : name) {
        a = (a ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
        b = (b ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
        b ^= b >> 29;
    }
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%04X-%012llX}", unsigned(a >> 32),
                  unsigned((a >> 16) & 0xFFFF), unsigned(a & 0xFFFF), unsigned(b >> 48),
                  static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFull));
    return text;
}

}  // namespace compat

HRESULT CLSIDFromString(LPCWSTR text, CLSID* clsid) {
    if (!text || !clsid) return E_INVALIDARG;
    const std::string narrow = ondelle::to_utf8(text);
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}: 38 characters, hex digits where X stands.
    static const char shape[] = "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
    if (narrow.size() != sizeof shape - 1) return CO_E_CLASSSTRING;
    std::uint8_t bytes[16] = {};
    int nibble = 0;
    for (std::size_t i = 0; i < narrow.size(); ++i) {
        const char c = narrow[i];
        if (shape[i] != 'X') {
            if (c != shape[i]) return CO_E_CLASSSTRING;
            continue;
        }
        int value = -1;
        if (c >= '0' && c <= '9') value = c - '0';
        if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
        if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
        if (value < 0) return CO_E_CLASSSTRING;
        bytes[nibble / 2] = std::uint8_t(bytes[nibble / 2] << 4 | value);
        ++nibble;
    }
    clsid->Data1 = std::uint32_t(bytes[0]) << 24 | std::uint32_t(bytes[1]) << 16 |
                   std::uint32_t(bytes[2]) << 8 | bytes[3];
    clsid->Data2 = std::uint16_t(bytes[4] << 8 | bytes[5]);
    clsid->Data3 = std::uint16_t(bytes[6] << 8 | bytes[7]);
    for (int i = 0; i < 8; ++i)
        clsid->Data4[i] = bytes[8 + i];
    return S_OK;
}

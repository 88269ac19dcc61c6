// HRESULTs printed as unsigned 32-bit hexadecimal, as Windows' own tools show them.
#include "win/hresult_text.h"

#include <cstdint>
#include <cstdio>

namespace ondelle {

std::string hresult_text(HRESULT result) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lx",
                  static_cast<unsigned long>(static_cast<std::uint32_t>(result)));
    return text;
}

}  // namespace ondelle

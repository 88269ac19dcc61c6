// The endpoint's identifier and display name from the computer and the output names.
#include "win/identity.h"

#include <windows.h>

#include <cctype>

#include "support/text.h"

namespace ondelle {

std::string computer_name() {
    WCHAR buffer[16] = L"windows";
    DWORD size = 16;
    GetComputerNameW(buffer, &size);
    return to_utf8(buffer);
}

std::string make_endpoint_id(std::string_view program, const std::string& computer,
                             const std::string& output) {
    std::string reduced;
    for (const char c : output) {
        const auto byte = static_cast<unsigned char>(c);
        if (reduced.size() < 24 && std::isalnum(byte)) reduced += char(std::tolower(byte));
    }
    return std::string(program) + "-" + computer + "-" + reduced;
}

std::string default_display_name(const std::string& computer, const std::string& output) {
    return computer + " \xc2\xb7 " + output;
}

}  // namespace ondelle

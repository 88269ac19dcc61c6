// The computer's name and the console: the simulated name, or the host's in upper case as
// Windows shows it.
#include <windows.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "simulation.h"
#include "support/text.h"

BOOL GetComputerNameW(LPWSTR buffer, LPDWORD size) {
    if (!buffer || !size) return FALSE;
    std::string name = compat::current_simulation()->config.computer_name;
    if (name.empty()) {
        char host[256] = {};
        if (gethostname(host, sizeof host - 1) != 0) return FALSE;
        name = host;
        name = name.substr(0, name.find('.'));
        name = name.substr(0, MAX_COMPUTERNAME_LENGTH);
        for (auto& c : name)
            c = char(std::toupper(static_cast<unsigned char>(c)));
    }
    const std::wstring wide = ondelle::to_wide(name);
    if (wide.size() + 1 > *size) {
        *size = DWORD(wide.size() + 1);
        return FALSE;
    }
    std::copy(wide.c_str(), wide.c_str() + wide.size() + 1, buffer);
    *size = DWORD(wide.size());
    return TRUE;
}

BOOL SetConsoleOutputCP(UINT) {
    return TRUE;  // terminals here speak UTF-8 already
}

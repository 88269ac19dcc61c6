// Standard error redirected to a log file that starts afresh past 1 MiB.
#include "log_file.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <ctime>

#include "support/text.h"

namespace ondelle {

void redirect_errors_to_log(const std::string& path, const std::string& device, int port) {
    const std::wstring wide_path = to_wide(path);
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    bool too_large = false;
    if (GetFileAttributesExW(wide_path.c_str(), GetFileExInfoStandard, &attributes)) {
        const std::uint64_t size =
            std::uint64_t(attributes.nFileSizeHigh) << 32 | attributes.nFileSizeLow;
        too_large = size > 1048576;
    }
    if (!_wfreopen(wide_path.c_str(), too_large ? L"w" : L"a", stderr)) return;
    __time64_t now = 0;
    _time64(&now);
    const char* when = _ctime64(&now);
    std::fprintf(stderr, "\n=== ondelle-wasapi \"%s\" port %d started %s", device.c_str(), port,
                 when ? when : "\n");
}

}  // namespace ondelle

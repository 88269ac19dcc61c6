// Standard error redirected to a log file that starts afresh past 1 MiB.
#include "log_file.h"

#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "program_name.h"
#include "support/text.h"
#include "win/log_line.h"

namespace ondelle::wasapi {

void redirect_errors_to_log(const std::string& path, const std::string& device, int port) {
    const std::wstring wide_path = to_wide(path);
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    bool too_large = false;
    if (GetFileAttributesExW(wide_path.c_str(), GetFileExInfoStandard, &attributes)) {
        const std::uint64_t size =
            std::uint64_t(attributes.nFileSizeHigh) << 32 | attributes.nFileSizeLow;
        too_large = size > 1048576;
    }
    const wchar_t* const mode = too_large ? L"w" : L"a";
    // Tried first on a stream of its own: a failed reopen would leave no standard error to
    // say so on.
    FILE* const trial = _wfopen(wide_path.c_str(), mode);
    if (!trial) {
        log_line(program_name, "cannot write the log to " + path + ": " + std::strerror(errno));
        return;
    }
    std::fclose(trial);
    if (!_wfreopen(wide_path.c_str(), mode, stderr)) return;
    __time64_t now = 0;
    _time64(&now);
    const char* when = _ctime64(&now);
    std::fprintf(stderr, "\n=== ondelle-wasapi \"%s\" port %d started %s", device.c_str(), port,
                 when ? when : "\n");
    stamp_log_lines();
}

}  // namespace ondelle::wasapi

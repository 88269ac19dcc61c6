// The log lines in a file with a limit on its size.
#include "win/log_file.h"

#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "support/text.h"
#include "win/log_line.h"

namespace ondelle {

bool log_to_file(std::string_view program, const std::string& path, const std::string& serving,
                 LogFileLimit limit) {
    const std::wstring wide_path = to_wide(path);
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    bool too_large = false;
    if (GetFileAttributesExW(wide_path.c_str(), GetFileExInfoStandard, &attributes)) {
        const std::uint64_t size =
            std::uint64_t(attributes.nFileSizeHigh) << 32 | attributes.nFileSizeLow;
        too_large = size > limit.bytes;
    }
    if (too_large && limit.keep_old) {
        const std::wstring old_path = wide_path + L".1";
        _wremove(old_path.c_str());
        too_large = _wrename(wide_path.c_str(), old_path.c_str()) != 0;
    }
    FILE* const file = _wfopen(wide_path.c_str(), too_large ? L"w" : L"a");
    if (!file) {
        log_line(program, "cannot write the log to " + path + ": " + std::strerror(errno));
        return false;
    }
    std::setvbuf(file, nullptr, _IONBF, 0);  // every line is in the file once it is logged
    __time64_t now = 0;
    _time64(&now);
    const char* when = _ctime64(&now);
    std::fprintf(file, "\n=== %.*s %s started %s", int(program.size()), program.data(),
                 serving.c_str(), when ? when : "\n");
    log_lines_to(file, wide_path, limit.keep_old ? limit.bytes : 0);
    return true;
}

std::string service_log_path(const std::string& service_name) {
    wchar_t data[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"ProgramData", data, MAX_PATH);
    std::wstring folder =
        length > 0 && length < MAX_PATH ? std::wstring(data, length) : L"C:\\ProgramData";
    folder += L"\\Ondelle";
    CreateDirectoryW(folder.c_str(), nullptr);
    return to_utf8(folder) + "\\" + service_name + ".log";
}

}  // namespace ondelle

// The file calls the programs make, with wide paths over the UTF-8 ones of this system.
#include <windows.h>

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>

#include "support/text.h"

BOOL GetFileAttributesExW(LPCWSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID information) {
    if (!path || level != GetFileExInfoStandard || !information) return FALSE;
    struct stat status {};
    if (stat(ondelle::to_utf8(path).c_str(), &status) != 0) return FALSE;
    auto* data = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(information);
    *data = {};
    data->dwFileAttributes = S_ISDIR(status.st_mode) ? 0x10 : 0x80;
    const auto file_size = std::uint64_t(status.st_size);
    data->nFileSizeHigh = DWORD(file_size >> 32);
    data->nFileSizeLow = DWORD(file_size);
    return TRUE;
}

FILE* _wfreopen(const wchar_t* path, const wchar_t* mode, FILE* stream) {
    if (!path || !mode) return nullptr;
    return std::freopen(ondelle::to_utf8(path).c_str(), ondelle::to_utf8(mode).c_str(), stream);
}

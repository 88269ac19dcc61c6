// The file calls the programs make, with wide paths over the UTF-8 ones of this system, and
// standard input read through its handle.
#include <windows.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

FILE* _wfopen(const wchar_t* path, const wchar_t* mode) {
    if (!path || !mode) return nullptr;
    return std::fopen(ondelle::to_utf8(path).c_str(), ondelle::to_utf8(mode).c_str());
}

FILE* _wfreopen(const wchar_t* path, const wchar_t* mode, FILE* stream) {
    if (!path || !mode) return nullptr;
    const std::string file = std::wstring(path) == L"NUL" ? "/dev/null" : ondelle::to_utf8(path);
    return std::freopen(file.c_str(), ondelle::to_utf8(mode).c_str(), stream);
}

int _wremove(const wchar_t* path) {
    return path ? std::remove(ondelle::to_utf8(path).c_str()) : -1;
}

int _wrename(const wchar_t* from, const wchar_t* to) {
    return from && to ? std::rename(ondelle::to_utf8(from).c_str(), ondelle::to_utf8(to).c_str())
                      : -1;
}

namespace {
// Standard input is the only file the programs read through a handle.
const HANDLE standard_input = reinterpret_cast<HANDLE>(std::uintptr_t(0x10));
}  // namespace

HANDLE GetStdHandle(DWORD which) {
    return which == STD_INPUT_HANDLE ? standard_input : nullptr;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytes_to_read, LPDWORD bytes_read, void*) {
    if (file != standard_input || !buffer) return FALSE;
    ssize_t got = -1;
    do {
        got = read(0, buffer, bytes_to_read);
    } while (got < 0 && errno == EINTR);
    if (bytes_read) *bytes_read = got > 0 ? DWORD(got) : 0;
    return got >= 0 ? TRUE : FALSE;
}

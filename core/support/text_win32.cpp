// UTF-8 / UTF-16 conversion through the Windows calls.
#include "support/text.h"

// windows.h must come first.
#include <windows.h>
// clang-format off
#include <shellapi.h>
// clang-format on

namespace ondelle {

std::string to_utf8(const wchar_t* text) {
    if (text == nullptr) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size < 2) return {};
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(size - 1));
    return out;
}

std::string to_utf8(const std::wstring& text) {
    return to_utf8(text.c_str());
}

std::wstring to_wide(const std::string& text) {
    if (text.empty()) return {};
    std::wstring out(text.size() + 1, L'\0');
    const int produced =
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), static_cast<int>(out.size()));
    out.resize(produced > 0 ? static_cast<std::size_t>(produced - 1) : 0);
    return out;
}

std::vector<std::string> utf8_arguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    arguments.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        arguments.push_back(to_utf8(wide[i]));
    LocalFree(wide);
    return arguments;
}

}  // namespace ondelle

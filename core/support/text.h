// Conversions between the UTF-8 used everywhere inside the system and the UTF-16 of the
// Windows interfaces. Wide strings hold UTF-16 code units on every platform (one code unit
// per wchar_t, also where wchar_t is wider), so that they mean the same everywhere.
#pragma once

#include <string>
#include <vector>

namespace ondelle {

// Unpaired surrogates become U+FFFD; empty on failure.
std::string to_utf8(const wchar_t* text);
std::string to_utf8(const std::wstring& text);

// Input taken up to its first NUL; invalid sequences become U+FFFD.
std::wstring to_wide(const std::string& text);

// The process's arguments as UTF-8. Windows splits its own UTF-16 command line; elsewhere
// (and where that fails) the runtime's arguments are taken as they are.
std::vector<std::string> utf8_arguments(int argc, char** argv);

}  // namespace ondelle

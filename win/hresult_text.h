// An HRESULT as the programs print it: "0x" and eight lowercase hexadecimal digits.
#pragma once

#include <windows.h>

#include <string>

namespace ondelle {

std::string hresult_text(HRESULT result);

}  // namespace ondelle

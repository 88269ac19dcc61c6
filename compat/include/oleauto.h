#pragma once

#include <windows.h>

// Automation strings: length-prefixed on Windows; here a plain allocated wide string.
using BSTR = wchar_t*;
BSTR SysAllocString(const wchar_t* text);
void SysFreeString(BSTR text);

using VARIANT_BOOL = short;
#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)

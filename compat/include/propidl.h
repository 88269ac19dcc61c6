// PROPVARIANT and its calls are declared with the rest in windows.h here.
#pragma once

#include <windows.h>

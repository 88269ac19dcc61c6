#include "com_thread.h"

#include <objbase.h>
#include <windows.h>

namespace ondelle {

void initialize_com_for_thread() {
    thread_local bool initialized = false;
    if (initialized) return;
    initialized = true;
    (void)CoInitializeEx(nullptr, COINIT_MULTITHREADED);
}

}  // namespace ondelle

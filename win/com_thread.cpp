// Joins a thread to COM's multithreaded apartment.
#include "win/com_thread.h"

#include <windows.h>

#include <objbase.h>

namespace ondelle {

void initialize_com_for_thread() {
    thread_local bool initialized = false;
    if (initialized) return;
    initialized = true;
    (void)CoInitializeEx(nullptr, COINIT_MULTITHREADED);
}

}  // namespace ondelle

// Thread names on POSIX systems: the kernel keeps 15 characters.
#include <pthread.h>

#include <string>

#include "support/thread.h"

namespace ondelle {

void name_this_thread(const char* name) {
    const std::string short_name = std::string(name).substr(0, 15);
    pthread_setname_np(pthread_self(), short_name.c_str());
}

}  // namespace ondelle

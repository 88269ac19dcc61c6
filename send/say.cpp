// The one place ondelle-send's messages get their prefix.
#include "say.h"

#include <cstdio>

namespace ondelle::send {

void say(const std::string& text) {
    const std::string line = "ondelle-send: " + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace ondelle::send

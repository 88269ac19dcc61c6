// The version line from the numbers CMake wrote.
#include "support/version.h"

#include "ondelle_version.h"

namespace ondelle {

std::string version_line(const std::string& program) {
    std::string line = program + " " + ONDELLE_VERSION;
    const std::string commit = ONDELLE_COMMIT;
    if (!commit.empty()) line += " (" + commit + ")";
    return line;
}

}  // namespace ondelle

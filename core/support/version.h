// What --version prints: the program's name, the version and, where it was built from a git
// checkout, the commit.
#pragma once

#include <string>

namespace ondelle {

std::string version_line(const std::string& program);

}  // namespace ondelle

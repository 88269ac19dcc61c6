// The class identifier text a simulated driver gets from its name.
#pragma once

#include <string>

namespace compat {

std::string derived_clsid_text(const std::string& name);

}  // namespace compat

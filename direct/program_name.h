// The program's name, as its log lines and identifier begin.
#pragma once

#include <string_view>

namespace ondelle::direct {

inline constexpr std::string_view program_name = "Ondelle-Direct";

}  // namespace ondelle::direct

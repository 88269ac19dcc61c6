// The name ondelle-wasapi gives itself in its diagnostics and its identifier.
#pragma once

#include <string_view>

namespace ondelle::wasapi {

inline constexpr std::string_view program_name = "ondelle-wasapi";

}  // namespace ondelle::wasapi

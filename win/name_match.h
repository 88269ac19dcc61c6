// How both programs find the output a user names: the exact name first, then the first
// name that contains the text, then the first that contains it in another case.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace ondelle {

// The index of the name chosen, or none. Case is folded for ASCII letters only.
std::optional<std::size_t> choose_by_name(const std::vector<std::string>& names,
                                          const std::string& wanted);

}  // namespace ondelle

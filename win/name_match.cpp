// Choosing an output by the name a user gave.
#include "win/name_match.h"

#include <algorithm>

namespace ondelle {
namespace {

std::string folded(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

}  // namespace

std::optional<std::size_t> choose_by_name(const std::vector<std::string>& names,
                                          const std::string& wanted) {
    const auto first = [&](auto&& fits) -> std::optional<std::size_t> {
        const auto at = std::find_if(names.begin(), names.end(), fits);
        if (at == names.end()) return std::nullopt;
        return static_cast<std::size_t>(at - names.begin());
    };
    if (auto exact = first([&](const std::string& name) { return name == wanted; })) return exact;
    if (auto containing =
            first([&](const std::string& name) { return name.find(wanted) != std::string::npos; }))
        return containing;
    const std::string wanted_folded = folded(wanted);
    return first([&](const std::string& name) {
        return folded(name).find(wanted_folded) != std::string::npos;
    });
}

}  // namespace ondelle

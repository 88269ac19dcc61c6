// Who an endpoint says it is: the computer's name and the identifier and display name made
// of it and the output's name.
#pragma once

#include <string>
#include <string_view>

namespace ondelle {

// GetComputerNameW's answer, or "windows" when it has none.
std::string computer_name();

// program + "-" + computer + "-" + the letters and digits of the output's name, lowercased,
// at most 24 of them.
std::string make_endpoint_id(std::string_view program, const std::string& computer,
                             const std::string& output);

// computer + " · " + output.
std::string default_display_name(const std::string& computer, const std::string& output);

}  // namespace ondelle

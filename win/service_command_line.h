// The command line a service is registered with: the executable's full path in quotes, then
// "--service", then the options it was installed with, each quoted so that the runtime's
// parsing gives every one back as it was (spaces, quotes, trailing backslashes, any script).
#pragma once

#include <string>
#include <vector>

namespace ondelle {

// argument as one item of a Windows command line: as it is when nothing in it needs quoting,
// else in double quotes with the backslashes before a quote (or before the closing quote)
// doubled and each quote escaped.
std::wstring quote_argument(const std::wstring& argument);

// "\"executable\" --service" and the arguments, each quoted where needed.
std::wstring service_command_line(const std::wstring& executable,
                                  const std::vector<std::string>& arguments);

}  // namespace ondelle

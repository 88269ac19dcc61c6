// What both programs take to run as, install and remove a Windows service.
#pragma once

#include <string>
#include <vector>

#include "support/command_line.h"

namespace ondelle {

struct ServiceOptions {
    bool run = false;  // --service: started by the service control manager
    std::string name;  // --service-name
    bool install = false;
    bool uninstall = false;
    bool force = false;
    std::vector<std::string> given;  // the whole command line, for the installed service's own
};

// The table's entries for them, stored into options (which must outlive them); default_name
// is the service's name when none is given.
std::vector<OptionSpec> service_option_specs(ServiceOptions& options,
                                             const std::string& default_name);

}  // namespace ondelle

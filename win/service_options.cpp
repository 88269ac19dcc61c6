// The service options' table entries.
#include "win/service_options.h"

namespace ondelle {

std::vector<OptionSpec> service_option_specs(ServiceOptions& o, const std::string& default_name) {
    o.name = default_name;
    return {
        switch_option("--service",
                      "run as the Windows service that the service control manager starts; "
                      "diagnostics go to the log, by default under %ProgramData%\\Ondelle",
                      o.run),
        text_option("--service-name", "NAME", "the service's name", default_name, o.name),
        switch_option("--install-service",
                      "install a service that starts at boot and serves with the options given "
                      "(from an administrator console)",
                      o.install),
        switch_option("--force", "with --install-service, replace a service of that name", o.force),
        switch_option("--uninstall-service", "stop and remove the service", o.uninstall),
    };
}

}  // namespace ondelle

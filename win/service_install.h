// Installing and removing one of the programs as a Windows service that starts at boot.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ondelle {

struct ServiceInstall {
    std::string name;          // the service's name ("ondelle-wasapi")
    std::string display_name;  // what the Services console shows
    std::string description;
    std::vector<std::string> dependencies;  // services that must run first ("Audiosrv")
    std::vector<std::string> arguments;     // the program's options, after --service
    int port = 4720;                        // the endpoint's, for the firewall's rule
};

// The options of a command line that go into the service's own: all but the program and the
// installer's own switches.
std::vector<std::string> service_arguments(const std::vector<std::string>& command_line);

// Registers the service (own process, automatic start, as NT AUTHORITY\LocalService,
// restarted 5 s after a failure twice, the count reset after a day), its event log source
// and its inbound firewall rules, saying each step on standard output; a firewall that does
// not take the rules is said, and the rest stays. 0; or 1 with the reason said (no
// administrator rights, a service of that name already there without force) and nothing left
// half installed.
int install_service(std::string_view program, const ServiceInstall& install, bool force);

// Stops the service (waiting at most 30 s), deletes it, its event log source and its firewall
// rules. 0; or 1 with the reason said (no such service, no administrator rights).
int uninstall_service(std::string_view program, const std::string& name);

}  // namespace ondelle

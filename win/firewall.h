// The inbound firewall rules a service's endpoint needs: TCP to its port and UDP 5353 for
// multicast DNS, for its executable only, on private networks, from the local subnet. They
// are named after the service, so that its removal finds them.
#pragma once

#include <string>

namespace ondelle {

// Adds both rules, replacing rules of the same names; false with error filled when the
// firewall would not take them.
bool add_firewall_rules(const std::string& service, const std::wstring& executable, int port,
                        std::string& error);

// Removes both rules; true when there were some to remove.
bool remove_firewall_rules(const std::string& service);

}  // namespace ondelle

// The host's usable IPv4 interfaces, asked afresh on every call: where to join the mDNS
// group, where to announce, which own address to give a peer, and who is on the link.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ondelle {

struct NetInterface {
    std::string name;           // the adapter's system name; empty for the fallback entry
    std::uint32_t address = 0;  // network byte order
    std::uint32_t mask = 0;     // network byte order; 0 for the fallback entry
};

// Every unicast IPv4 address of every adapter that is up, not loopback and multicast-capable;
// empty when the system query fails.
std::vector<NetInterface> list_adapter_addresses();

// The dotted first address of the first usable adapter with a default gateway, else of the
// first usable adapter; empty when there is none.
std::string primary_address();

// list_adapter_addresses, or one entry for primary_address when that list is empty.
std::vector<NetInterface> list_interfaces();

// The last entry whose subnet holds peer (network order), else the first; list not empty.
const NetInterface& pick_interface_for(const std::vector<NetInterface>& list, std::uint32_t peer);

// True when source (network order) is on the local link: this host (its loopback or one of
// the listed addresses), the link-local range 169.254/16, or the subnet of a listed entry.
bool is_on_link(const std::vector<NetInterface>& list, std::uint32_t source);

}  // namespace ondelle

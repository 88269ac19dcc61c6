// What both platforms share: the fallback, the choice of interface for a peer and the link.
#include "discovery/interfaces.h"

#include <cstring>

#include "support/socket.h"

namespace ondelle {

std::vector<NetInterface> list_interfaces() {
    std::vector<NetInterface> list = list_adapter_addresses();
    if (!list.empty()) return list;
    std::uint32_t address = 0;
    if (net::parse_ipv4(primary_address(), address) && address != 0)
        list.push_back(NetInterface{"", address, 0});
    return list;
}

const NetInterface& pick_interface_for(const std::vector<NetInterface>& list, std::uint32_t peer) {
    const NetInterface* choice = &list.front();
    for (const auto& entry : list) {
        if (entry.mask != 0 && ((entry.address ^ peer) & entry.mask) == 0) choice = &entry;
    }
    return *choice;
}

bool is_on_link(const std::vector<NetInterface>& list, std::uint32_t source) {
    std::uint8_t bytes[4];
    std::memcpy(bytes, &source, 4);
    if (bytes[0] == 127 || (bytes[0] == 169 && bytes[1] == 254)) return true;
    for (const auto& entry : list) {
        if (entry.address == source) return true;
        if (entry.mask != 0 && ((entry.address ^ source) & entry.mask) == 0) return true;
    }
    return false;
}

}  // namespace ondelle

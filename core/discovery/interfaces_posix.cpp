// Interfaces from getifaddrs; default gateways from the kernel's routing table.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cstdio>
#include <cstring>
#include <set>

#include "discovery/interfaces.h"

namespace ondelle {
namespace {

bool usable(const ifaddrs& entry, bool need_multicast) {
    const unsigned flags = entry.ifa_flags;
    return (flags & IFF_UP) && (flags & IFF_RUNNING) && !(flags & IFF_LOOPBACK) &&
           (!need_multicast || (flags & IFF_MULTICAST)) && entry.ifa_addr &&
           entry.ifa_addr->sa_family == AF_INET;
}

// Interfaces with a default route, from /proc/net/route (destination 0, gateway flag set).
std::set<std::string> interfaces_with_gateway() {
    std::set<std::string> names;
    std::FILE* file = std::fopen("/proc/net/route", "r");
    if (!file) return names;
    char line[512];
    if (std::fgets(line, sizeof line, file)) {  // the header
        while (std::fgets(line, sizeof line, file)) {
            char name[64];
            unsigned destination = 0, gateway = 0, flags = 0;
            if (std::sscanf(line, "%63s %x %x %x", name, &destination, &gateway, &flags) == 4 &&
                destination == 0 && (flags & 0x2)) {
                names.insert(name);
            }
        }
    }
    std::fclose(file);
    return names;
}

}  // namespace

std::vector<NetInterface> list_adapter_addresses() {
    std::vector<NetInterface> list;
    ifaddrs* all = nullptr;
    if (::getifaddrs(&all) != 0) return list;
    for (const ifaddrs* entry = all; entry; entry = entry->ifa_next) {
        if (!usable(*entry, true)) continue;
        NetInterface net;
        net.name = entry->ifa_name;
        net.address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr;
        if (entry->ifa_netmask)
            net.mask = reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask)->sin_addr.s_addr;
        list.push_back(std::move(net));
    }
    ::freeifaddrs(all);
    return list;
}

std::string primary_address() {
    ifaddrs* all = nullptr;
    if (::getifaddrs(&all) != 0) return {};
    const auto gateways = interfaces_with_gateway();
    std::string result;
    std::set<std::string> seen;
    for (const ifaddrs* entry = all; entry; entry = entry->ifa_next) {
        if (!usable(*entry, false) || !seen.insert(entry->ifa_name).second)
            continue;  // first address each
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr, text,
                    sizeof text);
        const bool has_gateway = gateways.count(entry->ifa_name) > 0;
        if (result.empty() || has_gateway) result = text;
        if (has_gateway) break;
    }
    ::freeifaddrs(all);
    return result;
}

}  // namespace ondelle

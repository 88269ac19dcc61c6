// Interfaces from the IP Helper interface.
// Winsock before the IP Helper headers.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
// clang-format on

#include <vector>

#include "discovery/interfaces.h"

namespace ondelle {
namespace {

constexpr ULONG buffer_size = 16384;
constexpr DWORD software_loopback = 24;
constexpr DWORD no_multicast = 0x10;

const IP_ADAPTER_ADDRESSES* query(std::vector<unsigned char>& buffer, ULONG flags) {
    buffer.assign(buffer_size, 0);
    ULONG size = buffer_size;
    auto* first = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
    if (GetAdaptersAddresses(AF_INET, flags, nullptr, first, &size) != NO_ERROR) return nullptr;
    return first;
}

}  // namespace

std::vector<NetInterface> list_adapter_addresses() {
    std::vector<NetInterface> list;
    std::vector<unsigned char> buffer;
    for (const auto* adapter = query(buffer, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST);
         adapter; adapter = adapter->Next) {
        if (adapter->OperStatus != IfOperStatusUp || adapter->IfType == software_loopback ||
            (adapter->Flags & no_multicast)) {
            continue;
        }
        for (const auto* unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next) {
            if (unicast->Address.lpSockaddr->sa_family != AF_INET) continue;
            NetInterface net;
            net.name = adapter->AdapterName;
            net.address =
                reinterpret_cast<const sockaddr_in*>(unicast->Address.lpSockaddr)->sin_addr.s_addr;
            ULONG mask = 0;
            if (ConvertLengthToIpv4Mask(unicast->OnLinkPrefixLength, &mask) == NO_ERROR)
                net.mask = mask;
            list.push_back(std::move(net));
        }
    }
    return list;
}

std::string primary_address() {
    std::vector<unsigned char> buffer;
    std::string result;
    for (const auto* adapter = query(
             buffer, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_INCLUDE_GATEWAYS);
         adapter; adapter = adapter->Next) {
        if (adapter->OperStatus != IfOperStatusUp || adapter->IfType == software_loopback ||
            !adapter->FirstUnicastAddress) {
            continue;
        }
        char text[INET_ADDRSTRLEN] = {};
        const auto* address =
            reinterpret_cast<const sockaddr_in*>(adapter->FirstUnicastAddress->Address.lpSockaddr);
        inet_ntop(AF_INET, &address->sin_addr, text, sizeof text);
        const bool has_gateway = adapter->FirstGatewayAddress != nullptr;
        if (result.empty() || has_gateway) result = text;
        if (has_gateway) break;
    }
    return result;
}

}  // namespace ondelle

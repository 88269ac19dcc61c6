// A query from an ephemeral port on each interface, so that it works beside a system mDNS
// daemon that holds 5353: responders answer such a query by unicast to the port it came from.
#include "browse.h"

#include <arpa/inet.h>

#include <map>
#include <random>

#include "discovery/dns_message.h"
#include "discovery/interfaces.h"
#include "support/udp_socket.h"

namespace ondelle::send {
namespace {

constexpr const char* service_type = "_ondelle._tcp.local";

}  // namespace

std::vector<FoundEndpoint> browse(std::chrono::milliseconds listen_for) {
    std::uint32_t group = 0;
    net::parse_ipv4("224.0.0.251", group);
    const std::uint16_t mdns_port_be = htons(5353);
    const auto id = static_cast<std::uint16_t>(std::random_device{}());
    const std::string query = mdns::build_query(id, service_type);

    std::vector<net::UniqueSocket> sockets;
    for (const NetInterface& interface : list_interfaces()) {
        net::UniqueSocket socket(net::open_udp_v4());
        if (socket.get() == net::no_socket || !net::bind_udp_v4(socket.get(), interface.address, 0))
            continue;
        net::set_multicast_interface(socket.get(), interface.address);
        if (net::send_to(socket.get(), query.data(), query.size(), group, mdns_port_be) < 0)
            continue;
        sockets.push_back(std::move(socket));
    }

    std::map<std::string, mdns::Instance> instances;
    const auto deadline = std::chrono::steady_clock::now() + listen_for;
    while (!sockets.empty() && std::chrono::steady_clock::now() < deadline) {
        for (const auto& socket : sockets) {
            if (!net::wait_readable(socket.get(), 50)) continue;
            std::uint8_t datagram[9000];
            std::uint32_t from = 0;
            std::uint16_t from_port = 0;
            const long size =
                net::receive_from(socket.get(), datagram, sizeof datagram, from, from_port);
            if (size <= 0 || (datagram[0] << 8 | datagram[1]) != id) continue;
            mdns::read_response(datagram, std::size_t(size), service_type, instances);
        }
    }

    std::vector<FoundEndpoint> found;
    for (const auto& [name, instance] : instances) {
        if (instance.port == 0 || instance.address_be == 0) continue;
        char address[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &instance.address_be, address, sizeof address);
        const auto model = instance.txt.find("model");
        found.push_back({instance.txt.count("name") ? instance.txt.at("name") : instance.instance,
                         address, instance.port,
                         model == instance.txt.end() ? std::string() : model->second});
    }
    return found;
}

}  // namespace ondelle::send

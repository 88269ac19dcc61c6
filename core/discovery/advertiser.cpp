// The multicast DNS responder: answers the link's questions for its instance, at a pace
// that is fair to the link, and announces it on start, on every usable interface.
#include "advertiser.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "discovery/answer_limits.h"
#include "discovery/dns_message.h"
#include "discovery/interfaces.h"
#include "support/clock.h"
#include "support/thread.h"
#include "support/udp_socket.h"

namespace ondelle {
namespace {

constexpr std::uint16_t mdns_port = 5353;
constexpr auto rejoin_after = std::chrono::seconds(30);
constexpr int poll_ms = 500;
constexpr std::size_t max_datagram = 9000;
constexpr std::int64_t list_again_ns = 30'000'000'000;
constexpr std::int64_t relist_for_stranger_ns = 1'000'000'000;

std::uint32_t loopback_address() {
    std::uint32_t loopback = 0;
    net::parse_ipv4("127.0.0.1", loopback);
    return loopback;
}

std::uint32_t group_address() {
    std::uint32_t group = 0;
    net::parse_ipv4("224.0.0.251", group);
    return group;
}

std::uint16_t port_be(std::uint16_t port) {
    const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(port >> 8),
                                   static_cast<std::uint8_t>(port & 0xFF)};
    std::uint16_t value;
    std::memcpy(&value, bytes, 2);
    return value;
}

}  // namespace

Advertiser::~Advertiser() {
    stop();
}

void Advertiser::stop() {
    running_.store(false);
    {
        std::lock_guard lock(wake_mutex_);
        announced_.notify_all();
    }
    if (wake_ != net::no_socket) net::send_to(wake_, "", 0, loopback_address(), wake_port_be_);
    if (socket_ != net::no_socket) net::shutdown_both(socket_);
    if (thread_.joinable()) thread_.join();
    for (net::SocketHandle* socket : {&socket_, &wake_}) {
        if (*socket != net::no_socket) net::close_socket(*socket);
        *socket = net::no_socket;
    }
}

bool Advertiser::start(const std::string& instance_name, int port,
                       const std::map<std::string, std::string>& txt, std::string& error,
                       const std::string& service_type) {
    // The service type is kept even when the socket cannot be opened; it is stored once the
    // previous run's thread, which reads it, has ended.
    stop();
    service_type_ = service_type;
    net::startup();
    net::UniqueSocket socket(net::open_udp_v4());
    if (socket.get() == net::no_socket) {
        error = net::last_error_text();
        return false;
    }
    net::set_shared_port(socket.get());
    if (!net::bind_udp_v4(socket.get(), 0, mdns_port)) {
        error = net::last_error_text();
        return false;
    }
    socket_ = socket.release();
    net::UniqueSocket wake(net::open_udp_v4());
    if (wake.get() != net::no_socket && net::bind_udp_v4(wake.get(), loopback_address(), 0)) {
        wake_port_be_ = port_be(std::uint16_t(net::local_port(wake.get())));
        wake_ = wake.release();
    }
    join_groups();
    net::set_multicast_ttl(socket_, 255);

    instance_name_ = instance_name;
    port_ = static_cast<std::uint32_t>(port);
    txt_ = txt;
    const auto id = txt_.find("id");
    host_name_ =
        mdns::make_host_name(instance_name_, id == txt_.end() ? std::string() : id->second);
    running_.store(true);
    thread_ = start_thread("mdns responder", [this] { run(); });
    return true;
}

void Advertiser::join_groups() {
    const std::uint32_t group = group_address();
    bool joined = false;
    for (const auto& net : list_adapter_addresses())
        joined = net::join_group(socket_, group, net.address) || joined;
    if (!joined) net::join_group(socket_, group, 0);
}

bool Advertiser::pause_while_running(std::chrono::milliseconds time) {
    std::unique_lock lock(wake_mutex_);
    announced_.wait_for(lock, time, [this] { return !running_.load(); });
    return running_.load();
}

void Advertiser::run() {
    mdns::Records records;
    records.service_type = service_type_;
    records.instance_full = mdns::full_instance_name(instance_name_, service_type_);
    records.host_name = host_name_;
    records.port = static_cast<std::uint16_t>(port_);
    records.txt = txt_;
    const std::uint32_t group = group_address();
    const std::uint16_t mdns_port_be = port_be(mdns_port);

    // The interface list is kept between answers (asking the system costs far more than an
    // answer) and asked again every few seconds, after a failed send, or when a query comes
    // from an address no listed subnet holds (at most once a second).
    std::vector<NetInterface> interfaces;
    std::int64_t listed_at = 0;
    mdns::MulticastPacing pacing;
    mdns::UnicastBudget budget;
    const auto list_again = [&](std::int64_t now) {
        std::vector<NetInterface> fresh = list_interfaces();
        std::vector<std::uint32_t> addresses;
        addresses.reserve(fresh.size());
        for (const auto& net : fresh)
            addresses.push_back(net.address);
        const bool changed = fresh.size() != interfaces.size() ||
                             !std::equal(fresh.begin(), fresh.end(), interfaces.begin(),
                                         [](const NetInterface& a, const NetInterface& b) {
                                             return a.address == b.address && a.mask == b.mask;
                                         });
        interfaces = std::move(fresh);
        listed_at = now;
        pacing.set_interfaces(addresses);
        if (changed) join_groups();
    };
    const auto multicast_on = [&](const std::vector<std::uint32_t>& addresses) {
        for (const std::uint32_t address : addresses) {
            const std::string packet = mdns::build_response(records, 0, false, "", address);
            net::set_multicast_interface(socket_, address);
            if (net::send_to(socket_, packet.data(), packet.size(), group, mdns_port_be) < 0)
                listed_at = 0;
        }
    };

    list_again(steady_now_ns());
    for (int round = 0; round < 2 && running_.load(); ++round) {
        std::vector<std::uint32_t> every;
        every.reserve(interfaces.size());
        for (const auto& net : interfaces)
            every.push_back(net.address);
        multicast_on(every);
        pacing.announced(steady_now_ns());
        pause_while_running(std::chrono::seconds(1));
    }
    auto last_join = std::chrono::steady_clock::now();
    const mdns::Names names = mdns::names_to_match(records);
    std::vector<std::uint8_t> datagram(max_datagram);

    while (running_.load()) {
        if (std::chrono::steady_clock::now() - last_join > rejoin_after) {
            join_groups();
            last_join = std::chrono::steady_clock::now();
        }
        std::int64_t now = steady_now_ns();
        if (now - listed_at > list_again_ns) list_again(now);
        multicast_on(pacing.due(now));
        // Asleep until a query comes, an owed answer falls due or the interfaces are to be
        // listed again; without a wake socket, in short naps so that stop is heard.
        std::int64_t next = listed_at + list_again_ns;
        if (const std::int64_t due = pacing.next_due(); due != -1) next = std::min(next, due);
        int wait_ms = static_cast<int>(
            std::clamp<std::int64_t>((next - now) / 1'000'000 + 1, 0, list_again_ns / 1'000'000));
        if (wake_ == net::no_socket) wait_ms = std::min(wait_ms, poll_ms);
        const int readable = wake_ == net::no_socket
                                 ? (net::wait_readable(socket_, wait_ms) ? 1 : 0)
                                 : net::wait_readable(socket_, wake_, wait_ms);
        if (readable == 2) {
            // What woke it is drained, whoever sent it; stop is seen at the top.
            std::uint32_t ignored_from = 0;
            std::uint16_t ignored_port = 0;
            net::receive_from(wake_, datagram.data(), datagram.size(), ignored_from, ignored_port);
        }
        if (readable != 1 || !running_.load()) continue;
        std::uint32_t from = 0;
        std::uint16_t from_port = 0;
        const long size =
            net::receive_from(socket_, datagram.data(), datagram.size(), from, from_port);
        if (size < 12) continue;
        now = steady_now_ns();
        // Only the link is answered: a host that could reach this port from afar would
        // otherwise turn every small query into a larger answer sent wherever it says.
        if (!is_on_link(interfaces, from)) {
            if (now - listed_at < relist_for_stranger_ns) continue;
            list_again(now);
            if (!is_on_link(interfaces, from)) continue;
        }
        mdns::Query query;
        if (!mdns::read_query(datagram.data(), static_cast<std::size_t>(size), names, query))
            continue;
        if (from_port == mdns_port_be) {
            multicast_on(pacing.answer(now));
            continue;
        }
        if (interfaces.empty() || !budget.allow(from, now)) continue;
        const NetInterface& chosen = pick_interface_for(interfaces, from);
        const std::string packet =
            mdns::build_response(records, query.id, true, query.first_question, chosen.address);
        if (net::send_to(socket_, packet.data(), packet.size(), from, from_port) < 0) listed_at = 0;
    }
}

}  // namespace ondelle

// Makes the endpoint known by multicast DNS as one instance of its service type: announces
// its records twice at start, then answers the queries that name it until stopped.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "support/socket.h"

namespace ondelle {

class Advertiser {
  public:
    Advertiser() = default;
    ~Advertiser();
    Advertiser(const Advertiser&) = delete;
    Advertiser& operator=(const Advertiser&) = delete;

    // (Re)starts the responder. False, with error filled, when the mDNS socket cannot be
    // opened; then nothing is announced and the previous names are kept.
    bool start(const std::string& instance_name, int port,
               const std::map<std::string, std::string>& txt, std::string& error,
               const std::string& service_type = "_ondelle._tcp.local");

    // Stops the responder; sends nothing. Safe when nothing runs.
    void stop();

    const std::string& host_name() const { return host_name_; }

  private:
    void run();
    void join_groups();
    // Sleeps, or less when stopped; false once stopped.
    bool pause_while_running(std::chrono::milliseconds time);

    std::string instance_name_;
    std::string host_name_;
    std::string service_type_;
    std::uint32_t port_ = 0;
    net::SocketHandle socket_ = net::no_socket;
    // The responder sleeps until a query or its next duty; stop wakes it with a datagram here.
    net::SocketHandle wake_ = net::no_socket;
    std::uint16_t wake_port_be_ = 0;
    std::map<std::string, std::string> txt_;
    std::atomic<bool> running_{false};
    std::thread thread_;
    std::mutex wake_mutex_;
    std::condition_variable announced_;  // the pause between the two announcements
};

}  // namespace ondelle

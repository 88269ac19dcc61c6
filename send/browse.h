// Finding endpoints: a one-shot multicast DNS query on every usable interface, and the
// answers gathered for a while.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace ondelle::send {

struct FoundEndpoint {
    std::string name;     // the display name (the instance)
    std::string address;  // dotted IPv4
    int port = 0;
    std::string model;
};

// Every endpoint that answered within the time, once each however many interfaces it
// answered on, in name order.
std::vector<FoundEndpoint> browse(std::chrono::milliseconds listen_for);

}  // namespace ondelle::send

// A small reader of the responder's packets for tests: header fields and each record's
// owner, type, class, TTL and RDATA.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ondelle::test {

struct DnsRecord {
    std::string owner;
    std::uint16_t type = 0;
    std::uint16_t klass = 0;
    std::uint32_t ttl = 0;
    std::string rdata;
};

struct DnsPacket {
    std::uint16_t id = 0;
    std::uint16_t flags = 0;
    std::uint16_t questions = 0;
    std::string question;            // raw bytes of the first question
    std::vector<DnsRecord> records;  // answers, then additionals
    bool ok = false;
};

DnsPacket parse_dns(const std::string& bytes);

// Uncompressed wire name to dotted text (a dot inside a label shows as "\.").
std::string read_wire_name(const std::string& bytes, std::size_t& pos);

// A query datagram with one question.
std::string dns_query(std::uint16_t id, const std::string& dotted_name, std::uint16_t type);

}  // namespace ondelle::test

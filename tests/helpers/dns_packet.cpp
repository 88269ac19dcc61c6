#include "helpers/dns_packet.h"

#include "discovery/dns_message.h"

namespace ondelle::test {
namespace {

std::uint16_t get16(const std::string& b, std::size_t pos) {
    return static_cast<std::uint16_t>((static_cast<unsigned char>(b[pos]) << 8) |
                                      static_cast<unsigned char>(b[pos + 1]));
}

}  // namespace

std::string read_wire_name(const std::string& bytes, std::size_t& pos) {
    std::string name;
    while (pos < bytes.size()) {
        const auto length = static_cast<unsigned char>(bytes[pos++]);
        if (length == 0) break;
        if (!name.empty()) name += '.';
        for (std::size_t i = 0; i < length && pos < bytes.size(); ++i, ++pos) {
            if (bytes[pos] == '.') name += '\\';
            name += bytes[pos];
        }
    }
    return name;
}

DnsPacket parse_dns(const std::string& b) {
    DnsPacket packet;
    if (b.size() < 12) return packet;
    packet.id = get16(b, 0);
    packet.flags = get16(b, 2);
    packet.questions = get16(b, 4);
    const std::size_t records = get16(b, 6) + get16(b, 8) + get16(b, 10);
    std::size_t pos = 12;
    for (std::size_t q = 0; q < packet.questions; ++q) {
        const std::size_t start = pos;
        read_wire_name(b, pos);
        pos += 4;
        if (q == 0) packet.question = b.substr(start, pos - start);
    }
    for (std::size_t r = 0; r < records; ++r) {
        DnsRecord record;
        record.owner = read_wire_name(b, pos);
        if (pos + 10 > b.size()) return packet;
        record.type = get16(b, pos);
        record.klass = get16(b, pos + 2);
        record.ttl = (static_cast<std::uint32_t>(get16(b, pos + 4)) << 16) | get16(b, pos + 6);
        const std::size_t length = get16(b, pos + 8);
        pos += 10;
        if (pos + length > b.size()) return packet;
        record.rdata = b.substr(pos, length);
        pos += length;
        packet.records.push_back(record);
    }
    packet.ok = pos == b.size();
    return packet;
}

std::string dns_query(std::uint16_t id, const std::string& dotted_name, std::uint16_t type) {
    std::string q;
    q += static_cast<char>(id >> 8);
    q += static_cast<char>(id & 0xFF);
    q += std::string("\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00", 10);
    mdns::append_name(q, dotted_name);
    q += static_cast<char>(type >> 8);
    q += static_cast<char>(type & 0xFF);
    q += std::string("\x00\x01", 2);
    return q;
}

}  // namespace ondelle::test

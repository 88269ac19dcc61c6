// Building the responder's one response and reading the queries it answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace ondelle::mdns {

// Dotted text to wire labels: a backslash makes the next byte literal (so "My\.Room" is one
// label), empty labels are dropped, labels are cut to 63 bytes, a zero byte ends the name.
void append_name(std::string& out, const std::string& dotted);

// The instance name in full: dots in the instance escaped, then the service type.
std::string full_instance_name(const std::string& instance, const std::string& service_type);

// The host name: instance letters and digits lowered, "-", the last six of the id's, ".local".
std::string make_host_name(const std::string& instance, const std::string& id);

struct Records {
    std::string service_type;   // e.g. "_ondelle._tcp.local"
    std::string instance_full;  // full_instance_name
    std::string host_name;
    std::uint16_t port = 0;
    std::map<std::string, std::string> txt;
};

// PTR, SRV, TXT and A. Announcements and multicast answers: ID 0, TTLs 120/4440 and the
// cache-flush bit; a unicast reply: the query's ID and first question, TTLs 10/370, no flush.
std::string build_response(const Records& records, std::uint16_t id, bool unicast,
                           const std::string& question, std::uint32_t address_be);

// The lower-cased names a query may ask for.
struct Names {
    std::string service_type;
    std::string instance;  // in full, its escaping backslashes removed
    std::string host;
};

Names names_to_match(const Records& records);

struct Query {
    std::uint16_t id = 0;
    std::string first_question;  // raw bytes: name, type and class
};

// True when the datagram is a query with a question that names this responder. Responses,
// short datagrams and queries without questions are not; nothing past the questions is read.
bool read_query(const std::uint8_t* data, std::size_t size, const Names& names, Query& query);

// A one-shot query for the PTR records of a service type (ID given, one question, no
// unicast-response bit): sent from a port other than 5353, it is answered by unicast.
std::string build_query(std::uint16_t id, const std::string& service_type);

// One instance of a service, as a response describes it.
struct Instance {
    std::string instance;  // the instance name, dots and all
    std::string host;
    std::uint16_t port = 0;
    std::uint32_t address_be = 0;  // 0 until an A record for the host is read
    std::map<std::string, std::string> txt;
};

// Adds what a response says about instances of service_type to found (matched by name, so
// that several responses complete one instance). False when the datagram is no response.
bool read_response(const std::uint8_t* data, std::size_t size, const std::string& service_type,
                   std::map<std::string, Instance>& found);

}  // namespace ondelle::mdns

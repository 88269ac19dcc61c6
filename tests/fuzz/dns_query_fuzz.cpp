// libFuzzer target: any datagram through the query reader, and a reply built for whatever
// it accepts. Neither may crash, read out of bounds or spin.
#include <cstddef>
#include <cstdint>

#include "discovery/dns_message.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const ondelle::mdns::Records records = [] {
        ondelle::mdns::Records r;
        r.service_type = "_ondelle._tcp.local";
        r.instance_full = ondelle::mdns::full_instance_name("Fuzz.Room", r.service_type);
        r.host_name = "fuzzroom-abc.local";
        r.port = 4720;
        r.txt = {{"v", "1"}, {"id", "abc"}};
        return r;
    }();
    static const auto names = ondelle::mdns::names_to_match(records);
    ondelle::mdns::Query query;
    if (ondelle::mdns::read_query(data, size, names, query)) {
        const auto reply = ondelle::mdns::build_response(records, query.id, true,
                                                         query.first_question, 0x0100007F);
        if (reply.size() < 12) __builtin_trap();
    }
    return 0;
}

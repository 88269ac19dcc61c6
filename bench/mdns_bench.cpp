// The responder's per-query work: reading a typical query and building one response.
#include <benchmark/benchmark.h>

#include "discovery/dns_message.h"

namespace {

using namespace ondelle::mdns;

Records records() {
    Records r;
    r.service_type = "_ondelle._tcp.local";
    r.instance_full = full_instance_name("Living Room", r.service_type);
    r.host_name = make_host_name("Living Room", "00:11:22:D4:E5:F6");
    r.port = 4720;
    r.txt = {{"v", "1"},
             {"id", "00:11:22:D4:E5:F6"},
             {"name", "Living Room"},
             {"model", "ondelle-wasapi"},
             {"vendor", "Ondelle"}};
    return r;
}

// A browser's query: the service type, PTR, with the unicast-response bit.
std::string typical_query() {
    std::string q("\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00", 12);
    append_name(q, "_ondelle._tcp.local");
    q += std::string("\x00\x0c\x80\x01", 4);
    return q;
}

void build(benchmark::State& state) {
    const Records r = records();
    for (auto _ : state) {
        auto packet = build_response(r, 0, false, "", 0x0100A8C0);
        benchmark::DoNotOptimize(packet.data());
    }
    state.SetItemsProcessed(state.iterations());
}

void read(benchmark::State& state) {
    const Names names = names_to_match(records());
    const std::string q = typical_query();
    Query query;
    for (auto _ : state) {
        const bool matched =
            read_query(reinterpret_cast<const std::uint8_t*>(q.data()), q.size(), names, query);
        benchmark::DoNotOptimize(matched);
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(build);
BENCHMARK(read);

}  // namespace

BENCHMARK_MAIN();

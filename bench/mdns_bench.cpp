// The responder's per-query work: reading a typical query and building one response, the
// whole of answering one query with the interface list kept or asked afresh, and the worst
// malformed datagram (questions that point into a long run of labels).
#include <benchmark/benchmark.h>

#include "discovery/answer_limits.h"
#include "discovery/dns_message.h"
#include "discovery/interfaces.h"
#include "support/clock.h"

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

void read_each_time(benchmark::State& state, const std::string& q) {
    const Names names = names_to_match(records());
    Query query;
    for (auto _ : state) {
        const bool matched =
            read_query(reinterpret_cast<const std::uint8_t*>(q.data()), q.size(), names, query);
        benchmark::DoNotOptimize(matched);
    }
    state.SetItemsProcessed(state.iterations());
}

void read(benchmark::State& state) {
    read_each_time(state, typical_query());
}

// 750 questions pointing three labels before the end of a 4.4 kB run of 63-byte labels,
// then one for the service type: the largest datagram the responder reads.
std::string pointer_bomb() {
    constexpr int pointers = 750;
    std::string d("\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00", 12);
    d[4] = char((pointers + 1) >> 8);
    d[5] = char((pointers + 1) & 0xFF);
    std::string run;
    for (int i = 0; i < 69; ++i)
        run += '\x3F' + std::string(63, 'a');
    const std::size_t run_at = 12 + std::size_t(pointers + 1) * 6;
    const auto question = [](std::size_t to) {
        return std::string{char(0xC0 | (to >> 8)), char(to & 0xFF), 0, 12, 0, 1};
    };
    for (int i = 0; i < pointers; ++i)
        d += question(run_at + run.size() - 3 * 64);
    d += question(run_at + run.size() + 1);
    d += run + std::string(1, '\0');
    append_name(d, "_ondelle._tcp.local");
    return d;
}

void read_pointer_bomb(benchmark::State& state) {
    read_each_time(state, pointer_bomb());
}

// Everything the responder does for one one-shot query but the two socket calls: who sent it,
// what it asks, the budget, the interface to answer for, the reply. Argument 1: the interface
// list asked afresh for every answer, as it once was.
void answer(benchmark::State& state) {
    const Records r = records();
    const Names names = names_to_match(r);
    const std::string q = typical_query();
    std::vector<ondelle::NetInterface> interfaces = ondelle::list_interfaces();
    if (interfaces.empty()) interfaces.push_back({"eth0", 0x0100A8C0, 0x00FFFFFF});
    const std::uint32_t from = interfaces.front().address;
    UnicastBudget budget;
    std::int64_t now = 0;
    for (auto _ : state) {
        if (state.range(0) == 1) interfaces = ondelle::list_interfaces();
        if (interfaces.empty() || !ondelle::is_on_link(interfaces, from)) continue;
        Query query;
        if (!read_query(reinterpret_cast<const std::uint8_t*>(q.data()), q.size(), names, query))
            continue;
        now += 1'000'000'000;  // a second apart: the budget never refuses here
        if (!budget.allow(from, now)) continue;
        const auto& chosen = ondelle::pick_interface_for(interfaces, from);
        auto packet = build_response(r, query.id, true, query.first_question, chosen.address);
        benchmark::DoNotOptimize(packet.data());
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(build);
BENCHMARK(read);
BENCHMARK(read_pointer_bomb);
BENCHMARK(answer)->Arg(0)->Arg(1)->ArgName("list_each_time");

}  // namespace

BENCHMARK_MAIN();

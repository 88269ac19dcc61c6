// Parse and dump of the protocol's real messages, side by side with nlohmann-json on the
// same inputs. After the runs it prints MB/s for both and our speed as a multiple of theirs.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "json.h"
#include "support/base64.h"

namespace {

std::string welcome_text() {
    return R"({"t":"welcome","proto":2,"endpoint":{"id":"ondelle-4f2a9c","name":"Living Room DAC","model":"ondelle-wasapi","vendor":"Ondelle"},)"
           R"("formats":{"pcm":{"rates":[44100,48000,88200,96000,176400,192000,352800,384000],"bits":[16,24,32],"channels":[2]},)"
           R"("dsd":{"rates":[2822400,5644800,11289600],"layouts":["u8","u32be"]}},"codecs":["pcm","flac"],)"
           R"("volume":{"kind":"hardware","value":42,"muted":false,"steps":100},"buffer_ms":2000,"burst_ms":500,)"
           R"("capabilities":{"native":[],"library":false,"library_sync":false,"library_private":false,"takeback":false,)"
           R"("handoff":false,"dsp":false,"transfer":false,"gain":false,"binary":true,"in_use":"K\u00fcche \"Main\""}})";
}

std::string status_text() {
    return R"({"t":"status","stream":17,"played":13230000,"buffered_ms":2143,"underruns":0,"state":"playing","network":{"type":"wifi","signal_dbm":-41}})";
}

std::string large_control_text() {
    std::string image(768 * 1024, '\0');
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<char>(i * 7919 >> 3);
    return R"({"t":"art","stream":3,"mime":"image/jpeg","data":")" + ondelle::base64_encode(image) +
           R"("})";
}

std::string nested_text() {
    std::string text;
    for (int i = 0; i < 60; ++i)
        text += R"({"level":)" + std::to_string(i) + R"(,"name":"node","next":)";
    text += "null";
    for (int i = 0; i < 60; ++i)
        text += "}";
    return text;
}

const std::map<std::string, std::string>& inputs() {
    static const std::map<std::string, std::string> all = {
        {"welcome", welcome_text()},
        {"status", status_text()},
        {"control_1MiB", large_control_text()},
        {"nested", nested_text()},
    };
    return all;
}

void parse_ours(benchmark::State& state, const std::string& text) {
    ondelle::Json value;
    for (auto _ : state) {
        ondelle::parse_json(text, value);
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void parse_nlohmann(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        auto value = nlohmann::json::parse(text);
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void dump_ours(benchmark::State& state, const std::string& text) {
    ondelle::Json value;
    ondelle::parse_json(text, value);
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::string out = ondelle::dump_json(value);
        bytes += out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

void dump_nlohmann(benchmark::State& state, const std::string& text) {
    const auto value = nlohmann::json::parse(text);
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::string out = value.dump();
        bytes += out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

// Collects bytes per second by benchmark name, then prints the side-by-side table.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            const auto it = run.counters.find("bytes_per_second");
            if (it != run.counters.end()) rates_[run.benchmark_name()] = it->second.value;
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%-8s %-14s %12s %12s %8s\n", "op", "input", "ours MB/s", "nlohmann",
                    "ratio");
        for (const char* op : {"parse", "dump"}) {
            for (const auto& [name, text] : inputs()) {
                const double ours = rates_[std::string(op) + "/ours/" + name] / 1e6;
                const double theirs = rates_[std::string(op) + "/nlohmann/" + name] / 1e6;
                if (theirs <= 0) continue;
                std::printf("%-8s %-14s %12.1f %12.1f %7.2fx\n", op, name.c_str(), ours, theirs,
                            ours / theirs);
            }
        }
    }

  private:
    std::map<std::string, double> rates_;
};

}  // namespace

int main(int argc, char** argv) {
    for (const auto& [name, text] : inputs()) {
        benchmark::RegisterBenchmark(("parse/ours/" + name).c_str(), parse_ours, text);
        benchmark::RegisterBenchmark(("parse/nlohmann/" + name).c_str(), parse_nlohmann, text);
        benchmark::RegisterBenchmark(("dump/ours/" + name).c_str(), dump_ours, text);
        benchmark::RegisterBenchmark(("dump/nlohmann/" + name).c_str(), dump_nlohmann, text);
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

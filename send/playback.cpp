// One stream per file: "start", the payloads, "end"; keys and the progress line between
// payloads; the endpoint's own flow control sets the pace.
#include "playback.h"

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "audio_source.h"
#include "terminal.h"

namespace ondelle::send {
namespace {

using namespace std::chrono_literals;

std::string format_text(const Format& f) {
    if (f.is_dsd()) {
        const int base = f.rate % 44100 == 0 ? 44100 : 48000;
        return "DSD" + std::to_string(f.rate / base);
    }
    return (f.codec == "flac" ? "FLAC " : "PCM ") + std::to_string(f.rate) + " Hz " +
           std::to_string(f.bits) + "-bit";
}

std::string clock_text(double seconds) {
    const int whole = int(seconds);
    char text[16];
    std::snprintf(text, sizeof text, "%d:%02d", whole / 60, whole % 60);
    return text;
}

Json start_message(std::int64_t stream, const Format& f, const std::string& title) {
    Json format;
    format.set("kind", Json(f.kind));
    format.set("rate", Json(f.rate));
    if (f.is_dsd()) {
        format.set("layout", Json(f.layout));
    } else {
        format.set("bits", Json(f.bits));
    }
    format.set("channels", Json(f.channels));
    format.set("codec", Json(f.codec));
    Json track;
    track.set("title", Json(title));
    Json start = make_message("start");
    start.set("stream", Json(stream));
    start.set("format", std::move(format));
    start.set("track", std::move(track));
    return start;
}

// What the endpoint's reports mean for the run: 0 while all is well.
int trouble(const EndpointLink::State& state) {
    if (state.taken) return taken_over;
    if (state.error_code == "format") return format_refused;
    if (state.lost) return connection_lost;
    return 0;
}

ExitCode stopped_by_user(EndpointLink& link) {
    link.send(make_message("stop"));
    return interrupted;
}

void report_trouble(const EndpointLink::State& state, int code) {
    if (code == taken_over) std::fprintf(stderr, "ondelle-send: taken over by another sender\n");
    if (code == format_refused)
        std::fprintf(stderr, "ondelle-send: the endpoint refused the format: %s\n",
                     state.error_message.c_str());
    if (code == connection_lost) std::fprintf(stderr, "ondelle-send: connection lost\n");
}

}  // namespace

ExitCode play_files(EndpointLink& link, const std::vector<std::string>& files,
                    Terminal& terminal, const std::atomic<bool>& stop_requested) {
    const Offer offer = read_offer(link.welcome());
    std::int64_t stream = 0;
    bool paused = false;
    for (std::size_t index = 0; index < files.size(); ++index) {
        const std::string& path = files[index];
        const std::string name = std::filesystem::path(path).filename().string();
        std::string error;
        auto source = open_audio(path, offer.flac, error);
        if (!source) {
            terminal.finish_line();
            std::fprintf(stderr, "ondelle-send: %s\n", error.c_str());
            return file_unreadable;
        }
        const Format& format = source->format();
        Format plain = format;
        plain.codec = "pcm";
        if (!offer.plays(plain)) {
            terminal.finish_line();
            std::fprintf(stderr, "ondelle-send: %s: the endpoint does not play %s%s (it plays %s)\n",
                         name.c_str(), format_text(plain).c_str(),
                         format.channels != 2 ? (" in " + std::to_string(format.channels) +
                                                 " channels").c_str()
                                              : "",
                         offer.describe().c_str());
            return format_refused;
        }
        ++stream;
        if (!terminal.interactive()) {
            std::printf("%zu/%zu %s  %s\n", index + 1, files.size(), name.c_str(),
                        format_text(format).c_str());
            std::fflush(stdout);
        }
        if (!link.send(start_message(stream, format, name))) break;
        const double rate = format.is_dsd() ? format.rate / 8.0 : double(format.rate);
        const double duration = double(source->total_frames()) / rate;
        auto next_show = std::chrono::steady_clock::now();
        bool skip = false;
        for (;;) {
            if (stop_requested.load()) return stopped_by_user(link);
            if (const int code = trouble(link.state())) {
                terminal.finish_line();
                report_trouble(link.state(), code);
                return ExitCode(code);
            }
            switch (terminal.take_key()) {
                case ' ':
                    paused = !paused;
                    link.send(make_message(paused ? "pause" : "resume"));
                    break;
                case 'n':
                    skip = true;
                    break;
                case 'q':
                    link.send(make_message("stop"));
                    return played;
                default:
                    break;
            }
            if (skip) {
                link.send(make_message("flush"));
                break;
            }
            if (paused) {
                link.wait_report(100ms);
            } else {
                std::string payload;
                if (!source->next(payload, error)) {
                    terminal.finish_line();
                    std::fprintf(stderr, "ondelle-send: %s: %s\n", name.c_str(), error.c_str());
                    link.send(make_message("stop"));
                    return file_unreadable;
                }
                if (payload.empty()) break;
                if (!link.send_audio(std::uint32_t(stream), payload)) break;
            }
            if (terminal.interactive() && std::chrono::steady_clock::now() >= next_show) {
                next_show += 250ms;
                const auto state = link.state();
                const auto report = state.streams.count(stream) ? state.streams.at(stream)
                                                                : EndpointLink::Report{};
                terminal.show(std::to_string(index + 1) + "/" + std::to_string(files.size()) +
                              "  " + name + "  " + format_text(format) + "  " +
                              clock_text(double(report.played) / rate) + " / " +
                              clock_text(duration) + "  buffered " +
                              std::to_string(report.buffered_ms) + " ms  underruns " +
                              std::to_string(report.underruns) + (paused ? "  (paused)" : ""));
            }
        }
        Json end = make_message("end");
        end.set("stream", Json(stream));
        link.send(end);
    }
    // The music is heard to its end before the sender leaves; an endpoint that never says so
    // is not waited for without end.
    const auto give_up = std::chrono::steady_clock::now() + 5min;
    while (stream > 0 && !link.wait_ended(stream, 200ms) &&
           (paused || std::chrono::steady_clock::now() < give_up)) {
        if (stop_requested.load()) return stopped_by_user(link);
        if (const int code = trouble(link.state())) {
            terminal.finish_line();
            report_trouble(link.state(), code);
            return ExitCode(code);
        }
        if (terminal.take_key() == 'q') {
            link.send(make_message("stop"));
            return played;
        }
    }
    terminal.finish_line();
    return played;
}

}  // namespace ondelle::send

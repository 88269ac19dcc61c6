// One stream per file: "start", the payloads, "end". The endpoint's own flow control sets the
// pace. Between payloads, and while the last file is heard to its end, the keys are read and
// the progress line shows the stream being heard.
#include "playback.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>

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

// What one stream is: which file, and how to show its position.
struct StreamInfo {
    std::size_t file = 0;
    std::string name;
    std::string format;
    double frames_per_second = 1;
    double seconds = 0;
};

class Playback {
  public:
    Playback(EndpointLink& link, const std::vector<std::string>& files, Terminal& terminal,
             const std::atomic<bool>& stop_requested)
        : link_(link),
          files_(files),
          terminal_(terminal),
          stop_requested_(stop_requested),
          offer_(read_offer(link.welcome())) {}

    ExitCode run() {
        std::size_t index = 0;
        for (;;) {
            while (index < files_.size()) {
                if (const auto code = send_file(index)) return *code;
                if (skip_to_) {
                    index = *std::exchange(skip_to_, std::nullopt);
                    continue;
                }
                ++index;
            }
            if (const auto code = hear_the_end()) return *code;
            if (!skip_to_) return played;
            index = *std::exchange(skip_to_, std::nullopt);
            if (index >= files_.size()) return played;
        }
    }

  private:
    // Sends one file as a stream; an exit code when the run ends here.
    std::optional<ExitCode> send_file(std::size_t index) {
        const std::string& path = files_[index];
        const std::string name = std::filesystem::path(path).filename().string();
        std::string error;
        auto source = open_audio(path, offer_.flac, error);
        if (!source) {
            terminal_.finish_line();
            std::fprintf(stderr, "ondelle-send: %s\n", error.c_str());
            return file_unreadable;
        }
        const Format& format = source->format();
        Format plain = format;
        plain.codec = "pcm";
        if (!offer_.plays(plain)) {
            terminal_.finish_line();
            const std::string channels =
                format.channels != 2 ? " in " + std::to_string(format.channels) + " channels" : "";
            std::fprintf(stderr, "ondelle-send: %s: the endpoint does not play %s%s (it plays %s)\n",
                         name.c_str(), format_text(plain).c_str(), channels.c_str(),
                         offer_.describe().c_str());
            return format_refused;
        }
        StreamInfo info;
        info.file = index;
        info.name = name;
        info.format = format_text(format);
        info.frames_per_second = format.is_dsd() ? format.rate / 8.0 : double(format.rate);
        info.seconds = double(source->total_frames()) / info.frames_per_second;
        const std::int64_t stream = ++last_stream_;
        streams_[stream] = info;
        if (!terminal_.interactive()) {
            std::printf("%zu/%zu %s  %s\n", index + 1, files_.size(), name.c_str(),
                        info.format.c_str());
            std::fflush(stdout);
        }
        if (!link_.send(start_message(stream, format, name))) return check_link(true);
        for (;;) {
            if (const auto code = between_payloads()) return code;
            if (skip_to_) return std::nullopt;
            if (paused_) {
                link_.wait_report(100ms);
                continue;
            }
            std::string payload;
            if (!source->next(payload, error)) {
                terminal_.finish_line();
                std::fprintf(stderr, "ondelle-send: %s: %s\n", name.c_str(), error.c_str());
                link_.send(make_message("stop"));
                return file_unreadable;
            }
            if (payload.empty()) break;
            if (!link_.send_audio(std::uint32_t(stream), payload)) return check_link(true);
        }
        Json end = make_message("end");
        end.set("stream", Json(stream));
        link_.send(end);
        return std::nullopt;
    }

    // Waits until the last stream has been heard; the keys still work meanwhile. An endpoint
    // that never says so is not waited for without end.
    std::optional<ExitCode> hear_the_end() {
        const auto give_up = std::chrono::steady_clock::now() + 5min;
        while (!link_.wait_ended(last_stream_, 200ms)) {
            if (const auto code = between_payloads()) return code;
            if (skip_to_) return std::nullopt;
            if (!paused_ && std::chrono::steady_clock::now() >= give_up) break;
        }
        terminal_.finish_line();
        return std::nullopt;
    }

    // Ctrl-C, the endpoint's news, the keys and the progress line.
    std::optional<ExitCode> between_payloads() {
        if (stop_requested_.load()) {
            link_.send(make_message("stop"));
            terminal_.finish_line();
            return interrupted;
        }
        if (const auto code = check_link(false)) return code;
        switch (terminal_.take_key()) {
            case ' ':
                paused_ = !paused_;
                link_.send(make_message(paused_ ? "pause" : "resume"));
                break;
            case 'n': {
                // Skips what is being heard: the queue is dropped and sending goes on with the
                // file after it.
                const auto heard = streams_.find(link_.state().heard_stream);
                const std::size_t file = heard == streams_.end() ? 0 : heard->second.file;
                link_.send(make_message("flush"));
                skip_to_ = file + 1;
                break;
            }
            case 'q':
                link_.send(make_message("stop"));
                terminal_.finish_line();
                return played;
            default:
                break;
        }
        show_progress();
        return std::nullopt;
    }

    // An exit code when the endpoint took over, refused or went; lost says a send failed.
    std::optional<ExitCode> check_link(bool send_failed) {
        const auto state = link_.state();
        std::optional<ExitCode> code;
        if (state.taken) {
            code = taken_over;
        } else if (state.error_code == "format") {
            code = format_refused;
        } else if (state.lost || send_failed) {
            code = connection_lost;
        }
        if (!code) return code;
        terminal_.finish_line();
        if (*code == taken_over)
            std::fprintf(stderr, "ondelle-send: taken over by another sender\n");
        if (*code == format_refused)
            std::fprintf(stderr, "ondelle-send: the endpoint refused the format: %s\n",
                         state.error_message.c_str());
        if (*code == connection_lost) std::fprintf(stderr, "ondelle-send: connection lost\n");
        return code;
    }

    void show_progress() {
        if (!terminal_.interactive() || std::chrono::steady_clock::now() < next_show_) return;
        next_show_ = std::chrono::steady_clock::now() + 250ms;
        const auto state = link_.state();
        const auto heard = streams_.find(state.heard_stream);
        const StreamInfo& info =
            heard != streams_.end() ? heard->second : streams_.begin()->second;
        const auto report_it = state.streams.find(state.heard_stream);
        const EndpointLink::Report report =
            report_it == state.streams.end() ? EndpointLink::Report{} : report_it->second;
        terminal_.show(std::to_string(info.file + 1) + "/" + std::to_string(files_.size()) + "  " +
                       info.name + "  " + info.format + "  " +
                       clock_text(double(report.played) / info.frames_per_second) + " / " +
                       clock_text(info.seconds) + "  buffered " +
                       std::to_string(report.buffered_ms) + " ms  underruns " +
                       std::to_string(report.underruns) + (paused_ ? "  (paused)" : ""));
    }

    EndpointLink& link_;
    const std::vector<std::string>& files_;
    Terminal& terminal_;
    const std::atomic<bool>& stop_requested_;
    const Offer offer_;
    std::map<std::int64_t, StreamInfo> streams_;
    std::int64_t last_stream_ = 0;
    bool paused_ = false;
    std::optional<std::size_t> skip_to_;
    std::chrono::steady_clock::time_point next_show_{};
};

}  // namespace

ExitCode play_files(EndpointLink& link, const std::vector<std::string>& files,
                    Terminal& terminal, const std::atomic<bool>& stop_requested) {
    return Playback(link, files, terminal, stop_requested).run();
}

}  // namespace ondelle::send

// One stream per file: "start", the payloads, "end". No more audio is in flight than the
// endpoint buffers plus a second, counted against what it reports heard, so that a key acts
// at once and a send that does not go out means a stuck endpoint. Between payloads, and
// while the last file is heard to its end, the keys are read and the progress line shows the
// stream being heard.
#include "playback.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <tuple>

#include "audio_source.h"
#include "say.h"
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

// Opens a file the endpoint can play as it is; otherwise the exit code that says why, with
// error naming the file.
std::optional<ExitCode> open_playable(const std::string& path, const Offer& offer,
                                      std::unique_ptr<AudioSource>& source, std::string& error) {
    source = open_audio(path, offer.flac, error);
    if (!source) return file_unreadable;
    const Format& format = source->format();
    Format plain = format;
    plain.codec = "pcm";
    if (offer.plays(plain)) return std::nullopt;
    const std::string channels =
        format.channels != 2 ? " in " + std::to_string(format.channels) + " channels" : "";
    error = std::filesystem::path(path).filename().string() + ": the endpoint does not play " +
            format_text(plain) + channels + " (it plays " + offer.describe() + ")";
    source.reset();
    return format_refused;
}

// What one stream is: which file, how to show its position, and how much of it was sent.
struct StreamInfo {
    std::size_t file = 0;
    std::string name;
    std::string format;
    double frames_per_second = 1;
    double seconds = 0;
    std::int64_t frames_sent = 0;
};

// Beyond what the endpoint buffers, this much more may be on its way.
constexpr double in_flight_margin_ms = 1000;
// After the last file, how much longer than its audio the endpoint may take to say so.
constexpr auto end_margin = 5s;
constexpr int volume_step = 5;
// While the output is away, how often the stream is started again.
constexpr auto device_retry = 2s;

class Playback {
  public:
    Playback(EndpointLink& link, const std::vector<std::string>& files, Terminal& terminal,
             const std::atomic<bool>& stop_requested, bool wait_device)
        : wait_device_(wait_device),
          link_(link),
          files_(files),
          terminal_(terminal),
          stop_requested_(stop_requested),
          offer_(read_offer(link.welcome())),
          in_flight_limit_ms_(double(link.welcome().get("buffer_ms").as_int(2000)) +
                              in_flight_margin_ms) {}

    ExitCode run() {
        std::size_t index = 0;
        std::int64_t offset = 0;
        for (;;) {
            while (index < files_.size()) {
                const auto code = send_file(index, std::exchange(offset, 0));
                if (code == device_gone && wait_device_) {
                    std::tie(index, offset) = resume_point(index);
                    if (const auto stop = wait_for_device()) return *stop;
                    continue;
                }
                if (code) return *code;
                if (skip_to_) {
                    index = *std::exchange(skip_to_, std::nullopt);
                    continue;
                }
                ++index;
            }
            const auto code = hear_the_end();
            if (code == device_gone && wait_device_) {
                std::tie(index, offset) = resume_point(index);
                if (const auto stop = wait_for_device()) return *stop;
                continue;
            }
            if (code) return *code;
            if (!skip_to_) return failed_.value_or(played);
            index = *std::exchange(skip_to_, std::nullopt);
            if (index >= files_.size()) return played;
        }
    }

  private:
    // Sends one file as a stream; an exit code when the run ends here.
    std::optional<ExitCode> send_file(std::size_t index, std::int64_t from_frame) {
        const std::string& path = files_[index];
        const std::string name = std::filesystem::path(path).filename().string();
        std::string error;
        std::unique_ptr<AudioSource> source;
        if (const auto refused = open_playable(path, offer_, source, error)) {
            // Checked before the run began; it changed since.
            terminal_.finish_line();
            say(error);
            return refused;
        }
        const Format& format = source->format();
        if (from_frame > 0 && !source->seek(from_frame)) from_frame = 0;
        StreamInfo info;
        info.file = index;
        info.name = name;
        info.format = format_text(format);
        info.frames_per_second = format.is_dsd() ? format.rate / 8.0 : double(format.rate);
        info.seconds = double(source->total_frames()) / info.frames_per_second;
        const std::int64_t stream = ++last_stream_;
        streams_[stream] = info;
        link_.expect_stream(stream);
        if (!terminal_.interactive() && announced_.insert(index).second) {
            std::printf("%zu/%zu %s  %s\n", index + 1, files_.size(), name.c_str(),
                        info.format.c_str());
            std::fflush(stdout);
        }
        if (!link_.send(start_message(stream, format, name))) return check_link(true);
        for (;;) {
            if (const auto code = between_payloads()) return code;
            if (skip_to_) return std::nullopt;
            if (paused_ || in_flight_ms() > in_flight_limit_ms_) {
                if (const auto code = wait_for_progress()) return code;
                continue;
            }
            std::string payload;
            std::int64_t frames = 0;
            if (!source->next(payload, frames, error)) {
                // What came before is heard; the file counts as failed.
                terminal_.finish_line();
                say(name + ": " + error);  // NOLINT(performance-inefficient-string-concatenation)
                failed_ = file_unreadable;
                break;
            }
            if (payload.empty()) break;
            if (!link_.send_audio(std::uint32_t(stream), payload)) return check_link(true);
            streams_[stream].frames_sent += frames;
            last_progress_ = std::chrono::steady_clock::now();
        }
        if (const std::string note = source->note(); !note.empty()) {
            terminal_.finish_line();
            say(name + ": " + note);
        }
        Json end = make_message("end");
        end.set("stream", Json(stream));
        link_.send(end);
        return std::nullopt;
    }

    // Waits a moment for the endpoint to report more heard. An endpoint that takes audio
    // and reports nothing heard for long past what it buffers is not waited for without end.
    std::optional<ExitCode> wait_for_progress() {
        link_.wait_report(100ms);
        const auto state = link_.state();
        const auto heard = state.streams.find(state.heard_stream);
        const std::pair marker{state.ended_up_to,
                               heard == state.streams.end() ? 0 : heard->second.played};
        const auto now = std::chrono::steady_clock::now();
        if (marker != last_heard_ || paused_) {
            last_heard_ = marker;
            last_progress_ = now;
            return std::nullopt;
        }
        if (now - last_progress_ <
            std::chrono::milliseconds(std::int64_t(in_flight_limit_ms_)) + end_margin)
            return std::nullopt;
        terminal_.finish_line();
        say("the endpoint reports nothing heard");
        return not_confirmed;
    }

    // Milliseconds of audio sent and not yet reported heard.
    double in_flight_ms() {
        const auto state = link_.state();
        double total = 0;
        for (const auto& [stream, info] : streams_) {
            if (stream <= state.ended_up_to) continue;
            const auto report = state.streams.find(stream);
            const std::int64_t heard = report == state.streams.end() ? 0 : report->second.played;
            total += double(std::max<std::int64_t>(info.frames_sent - heard, 0)) * 1000.0 /
                     info.frames_per_second;
        }
        return total;
    }

    // Waits until the last stream has been heard; the keys still work meanwhile. An endpoint
    // that never says so is not waited for without end.
    std::optional<ExitCode> hear_the_end() {
        const auto bound = [&] {
            return std::chrono::steady_clock::now() +
                   std::chrono::milliseconds(std::int64_t(in_flight_ms())) + end_margin;
        };
        auto give_up = bound();
        // A stream the endpoint dropped (its output gone) is ended too: what it said before
        // the end is looked at first.
        while (!link_.wait_ended(last_stream_, 200ms) || link_.state().error_code == "device") {
            if (const auto code = between_payloads()) return code;
            if (skip_to_) return std::nullopt;
            if (paused_) give_up = bound();  // a pause is the user's, not the endpoint's
            if (std::chrono::steady_clock::now() >= give_up) {
                terminal_.finish_line();
                say("the endpoint never said the last file was heard");
                return not_confirmed;
            }
        }
        terminal_.finish_line();
        return std::nullopt;
    }

    // Ctrl-C, the endpoint's news, the keys and the progress line.
    std::optional<ExitCode> between_payloads() {
        if (stop_requested_.load()) {
            stop_now();
            return interrupted;
        }
        if (const auto code = check_link(false)) return code;
        const char key = terminal_.take_key();
        switch (key) {
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
                stop_now();
                return played;
            case '+':
            case '-':
                change_volume(key == '+' ? volume_step : -volume_step);
                break;
            default:
                break;
        }
        show_progress();
        return std::nullopt;
    }

    // Where to go on once the output is back: the first stream not heard to its end, from
    // as far as it was heard (the file being sent, from its start, when none is left).
    std::pair<std::size_t, std::int64_t> resume_point(std::size_t sending) {
        const auto state = link_.state();
        for (const auto& [stream, info] : streams_) {
            if (stream <= state.ended_up_to) continue;
            const auto report = state.streams.find(stream);
            return {info.file, report == state.streams.end() ? 0 : report->second.played};
        }
        return {sending, 0};
    }

    // The output has gone: waits a while, the keys and Ctrl-C still working, before the
    // stream is started again; an exit code when the run ends meanwhile.
    std::optional<ExitCode> wait_for_device() {
        if (!waiting_said_) {
            terminal_.finish_line();
            say("endpoint: " + link_.state().error_message + "; waiting for it to come back");
            waiting_said_ = true;
        }
        link_.clear_error();
        const auto until = std::chrono::steady_clock::now() + device_retry;
        while (std::chrono::steady_clock::now() < until) {
            link_.wait_report(100ms);
            if (stop_requested_.load()) {
                stop_now();
                return interrupted;
            }
            if (terminal_.take_key() == 'q') {
                stop_now();
                return played;
            }
            const auto state = link_.state();
            if (state.lost || state.taken) return check_link(false);
            link_.clear_error();  // the streams refused meanwhile say so again
        }
        return std::nullopt;
    }

    // Where the endpoint takes a volume, moves it by step and shows the new level.
    void change_volume(int step) {
        if (link_.welcome().get("volume").get("kind").as_string("fixed") == "fixed") {
            volume_shown_ = "volume fixed";
        } else {
            const auto state = link_.state();
            const std::int64_t level =
                std::clamp<std::int64_t>((state.volume < 0 ? 50 : state.volume) + step, 0, 100);
            Json volume = make_message("volume");
            volume.set("value", Json(level));
            link_.send(volume);
            volume_shown_ = "volume " + std::to_string(level);
        }
        volume_shown_until_ = std::chrono::steady_clock::now() + 3s;
        next_show_ = {};
    }

    // Stops at once: the endpoint drops what it holds with the connection.
    void stop_now() {
        link_.send(make_message("stop"));
        link_.close();
        terminal_.finish_line();
    }

    // An exit code when the endpoint took over, refused, lost its output or went; lost says a
    // send failed.
    std::optional<ExitCode> check_link(bool send_failed) {
        const auto state = link_.state();
        std::optional<ExitCode> code;
        if (state.taken) {
            code = taken_over;
        } else if (state.error_code == "format") {
            code = format_refused;
        } else if (state.error_code == "device") {
            code = device_gone;
        } else if (state.lost || send_failed) {
            code = connection_lost;
        }
        if (!code) return code;
        terminal_.finish_line();
        if (*code == taken_over) say("taken over by another sender");
        if (*code == format_refused) say("the endpoint refused the format: " + state.error_message);
        if (*code == device_gone && !wait_device_) say("endpoint: " + state.error_message);
        if (*code == device_gone && wait_device_) return code;  // said by the wait
        if (*code == connection_lost)
            say(link_.stuck() ? "the endpoint took nothing for " +
                                    std::to_string(audio_send_limit.count() / 1000) + " s"
                              : "connection lost");
        return code;
    }

    void show_progress() {
        if (!terminal_.interactive() || std::chrono::steady_clock::now() < next_show_) return;
        next_show_ = std::chrono::steady_clock::now() + 250ms;
        const auto state = link_.state();
        const auto heard = streams_.find(state.heard_stream);
        const StreamInfo& info = heard != streams_.end() ? heard->second : streams_.begin()->second;
        const auto report_it = state.streams.find(state.heard_stream);
        EndpointLink::Report report =
            report_it == state.streams.end() ? EndpointLink::Report{} : report_it->second;
        if (state.heard_stream <= state.ended_up_to)
            report.played = std::int64_t(info.seconds * info.frames_per_second);
        terminal_.show(
            std::to_string(info.file + 1) + "/" + std::to_string(files_.size()) + "  " + info.name +
            "  " + info.format + "  " + clock_text(double(report.played) / info.frames_per_second) +
            " / " + clock_text(info.seconds) + "  buffered " + std::to_string(report.buffered_ms) +
            " ms  underruns " + std::to_string(report.underruns) + (paused_ ? "  (paused)" : "") +
            (std::chrono::steady_clock::now() < volume_shown_until_ ? "  " + volume_shown_
                                                                    : std::string()));
    }

    const bool wait_device_;
    bool waiting_said_ = false;
    std::set<std::size_t> announced_;  // files whose line has been printed
    EndpointLink& link_;
    const std::vector<std::string>& files_;
    Terminal& terminal_;
    const std::atomic<bool>& stop_requested_;
    const Offer offer_;
    const double in_flight_limit_ms_;
    std::map<std::int64_t, StreamInfo> streams_;
    std::optional<ExitCode> failed_;  // a file that failed part way: the run's code
    std::pair<std::int64_t, std::int64_t> last_heard_{0, 0};  // ended up to, played
    std::chrono::steady_clock::time_point last_progress_ = std::chrono::steady_clock::now();
    std::string volume_shown_;
    std::chrono::steady_clock::time_point volume_shown_until_{};
    std::int64_t last_stream_ = 0;
    bool paused_ = false;
    std::optional<std::size_t> skip_to_;
    std::chrono::steady_clock::time_point next_show_{};
};

}  // namespace

Checked check_files(const std::vector<std::string>& files, const Json& welcome) {
    const Offer offer = read_offer(welcome);
    Checked checked;
    for (const std::string& path : files) {
        std::unique_ptr<AudioSource> source;
        std::string error;
        if (const auto refused = open_playable(path, offer, source, error)) {
            say(error);
            if (checked.refused == played) checked.refused = *refused;
            continue;
        }
        checked.playable.push_back(path);
    }
    return checked;
}

ExitCode play_files(EndpointLink& link, const std::vector<std::string>& files, Terminal& terminal,
                    const std::atomic<bool>& stop_requested, bool wait_device) {
    return Playback(link, files, terminal, stop_requested, wait_device).run();
}

}  // namespace ondelle::send

// The sender's connection: TCP with a bounded connect, frames through the core's Conn, and
// the endpoint's reports gathered on a reader thread.
#include "endpoint_link.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "support/thread.h"
#include "support/utf8.h"

namespace ondelle::send {
namespace {

int milliseconds_until(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return int(std::clamp<std::int64_t>(left.count(), 0, 3'600'000));
}

std::vector<std::int64_t> numbers(const Json& array) {
    std::vector<std::int64_t> out;
    for (const Json& element : array.elements)
        out.push_back(element.as_int(0));
    return out;
}

bool contains(const std::vector<std::int64_t>& values, std::int64_t value) {
    return std::find(values.begin(), values.end(), value) != values.end();
}

// A connected TCP socket to host:port by the deadline, or -1 with error set.
int connect_to(const std::string& host, int port, std::chrono::steady_clock::time_point deadline,
               std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found) {
        error = "no such host " + host;
        return -1;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int result = ::connect(fd, found->ai_addr, found->ai_addrlen);
    freeaddrinfo(found);
    if (result != 0 && errno == EINPROGRESS) {
        pollfd writable{fd, POLLOUT, 0};
        result = -1;
        if (poll(&writable, 1, milliseconds_until(deadline)) == 1) {
            int failure = 0;
            socklen_t size = sizeof failure;
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &size);
            errno = failure;
            result = failure == 0 ? 0 : -1;
        } else {
            errno = ETIMEDOUT;
        }
    }
    if (result != 0) {
        error = host + ":" + std::to_string(port) + ": " + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    // Little waits in the socket: a pause or a stop goes out behind at most this much.
    const int send_buffer = 64 * 1024;
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &send_buffer, sizeof send_buffer);
    return fd;
}

void set_receive_timeout(int fd, int milliseconds) {
    timeval limit{milliseconds / 1000, (milliseconds % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
}

}  // namespace

bool Offer::plays(const Format& format) const {
    if (format.channels != 2) return false;
    if (format.is_dsd()) return dsd_u8 && contains(dsd_rates, format.rate);
    return contains(pcm_rates, format.rate) && contains(pcm_bits, format.bits);
}

namespace {

// "2.8224", "3.072": a rate in MHz without trailing zeros.
std::string megahertz(std::int64_t rate) {
    std::string text =
        std::to_string(rate / 1000000) + "." + std::to_string(rate % 1000000 + 1000000).substr(1);
    while (text.back() == '0')
        text.pop_back();
    if (text.back() == '.') text.pop_back();
    return text;
}

}  // namespace

std::string Offer::describe() const {
    // Every rate, not a range: a gap in a range would promise what the endpoint refuses.
    std::string text = "PCM";
    if (pcm_rates.empty()) {
        text.append(" nothing");
    } else {
        for (const auto rate : pcm_rates)
            text.append(" ").append(std::to_string(rate));
        text.append(" Hz at ");
        for (std::size_t i = 0; i < pcm_bits.size(); ++i)
            text.append(i ? "/" : "").append(std::to_string(pcm_bits[i]));
        text.append(" bits");
    }
    if (dsd_u8 && !dsd_rates.empty()) {
        text.append(",");
        for (const auto rate : dsd_rates) {
            const std::string name = dsd_rate_name(rate);
            const bool repeated =
                std::count_if(dsd_rates.begin(), dsd_rates.end(),
                              [&](std::int64_t other) { return dsd_rate_name(other) == name; }) > 1;
            text.append(" ").append(name);
            if (repeated) text.append(" (").append(megahertz(rate)).append(" MHz)");
        }
    }
    return text;
}

Offer read_offer(const Json& welcome) {
    Offer offer;
    const Json& formats = welcome.get("formats");
    offer.pcm_rates = numbers(formats.get("pcm").get("rates"));
    offer.pcm_bits = numbers(formats.get("pcm").get("bits"));
    offer.dsd_rates = numbers(formats.get("dsd").get("rates"));
    for (const Json& layout : formats.get("dsd").get("layouts").elements)
        offer.dsd_u8 = offer.dsd_u8 || layout.as_string("") == "u8";
    for (const Json& codec : welcome.get("codecs").elements)
        offer.flac = offer.flac || codec.as_string("") == "flac";
    offer.name = welcome.get("endpoint").get("name").as_string("");
    offer.model = welcome.get("endpoint").get("model").as_string("");
    return offer;
}

std::unique_ptr<EndpointLink> EndpointLink::open(const std::string& host, int port,
                                                 const Json& hello, std::string& error,
                                                 std::chrono::steady_clock::time_point deadline) {
    const int fd = connect_to(host, port, deadline, error);
    if (fd < 0) return nullptr;
    std::unique_ptr<EndpointLink> link(new EndpointLink(std::make_shared<Conn>(fd, host)));
    // An endpoint that accepts and never answers holds nobody: the welcome comes by the
    // deadline, or the link is given up.
    set_receive_timeout(fd, std::max(milliseconds_until(deadline), 1));
    Message reply;
    const bool answered = link->conn_->send_json(hello) && link->conn_->receive(reply);
    set_receive_timeout(fd, 0);
    if (!answered || reply.json.get("t").as_string("") != "welcome") {
        error = host + ":" + std::to_string(port) + ": " +
                (!answered ? std::string("no welcome in time")
                 : reply.json.get("t").as_string("") == "error"
                     ? escape_controls(reply.json.get("message").as_string("refused"))
                     : std::string("no welcome"));
        return nullptr;
    }
    link->welcome_ = std::move(reply.json);
    link->state_.volume = link->welcome_.get("volume").get("value").as_int(-1);
    link->reader_ = start_thread("link reader", [link = link.get()] { link->read_reports(); });
    return link;
}

EndpointLink::~EndpointLink() {
    close();
}

void EndpointLink::close() {
    conn_->shutdown();
    if (reader_.joinable()) reader_.join();
    conn_->close();
}

bool EndpointLink::send(const Json& message) {
    return conn_->send_json(message);
}

bool EndpointLink::send_audio(std::uint32_t stream, const std::string& data) {
    return conn_->send_audio(stream, 0, data.data(), data.size(),
                             std::chrono::steady_clock::now() + audio_send_limit);
}

void EndpointLink::expect_stream(std::int64_t stream) {
    std::lock_guard lock(mutex_);
    state_.streams[stream];
}

void EndpointLink::clear_error() {
    std::lock_guard lock(mutex_);
    state_.error_code.clear();
    state_.error_message.clear();
}

EndpointLink::State EndpointLink::state() {
    std::lock_guard lock(mutex_);
    return state_;
}

bool EndpointLink::wait_ended(std::int64_t stream, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        return state_.ended_up_to >= stream || state_.lost || state_.taken;
    }) && state_.ended_up_to >= stream;
}

void EndpointLink::wait_report(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout);
}

void EndpointLink::read_reports() {
    Message message;
    while (conn_->receive(message)) {
        if (message.type != Control) continue;
        const Json& json = message.json;
        const std::string type = json.get("t").as_string("");
        std::lock_guard lock(mutex_);
        if (type == "status") {
            const auto report = state_.streams.find(json.get("stream").as_int(0));
            if (report == state_.streams.end()) continue;  // not one of this run's
            state_.heard_stream = report->first;
            report->second.played = json.get("played").as_int(0);
            report->second.buffered_ms = json.get("buffered_ms").as_int(0);
            const std::int64_t underruns = json.get("underruns").as_int(0);
            const auto before = underruns_before_.try_emplace(
                report->first, endpoint_underruns_ < 0 ? underruns : endpoint_underruns_);
            report->second.underruns = std::max<std::int64_t>(underruns - before.first->second, 0);
            endpoint_underruns_ = underruns;
        } else if (type == "ended") {
            const auto report = state_.streams.find(json.get("stream").as_int(0));
            if (report == state_.streams.end()) continue;
            // Streams end in order: this one and every one before it are over.
            state_.ended_up_to = std::max(state_.ended_up_to, report->first);
            underruns_before_.erase(underruns_before_.begin(),
                                    underruns_before_.upper_bound(report->first));
            state_.streams.erase(state_.streams.begin(), std::next(report));
        } else if (type == "error") {
            state_.error_code = escape_controls(json.get("code").as_string(""));
            state_.error_message = escape_controls(json.get("message").as_string(""));
        } else if (type == "volume") {
            state_.volume = json.get("value").as_int(state_.volume);
        } else if (type == "stopped") {
            state_.taken = true;
        }
        changed_.notify_all();
    }
    std::lock_guard lock(mutex_);
    state_.lost = true;
    changed_.notify_all();
}

}  // namespace ondelle::send

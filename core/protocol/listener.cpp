// The listener and the accept loop: private peers get a session thread, others a log line.
#include "endpoint.h"

#include <algorithm>
#include <new>
#include <chrono>
#include <thread>

#include "protocol/private_address.h"
#include "protocol/session.h"
#include "support/thread.h"

namespace ondelle {

bool Endpoint::listen(int port, std::string& error) {
    net::startup();
    net::UniqueSocket socket(net::open_tcp_v4());
    if (socket.get() == net::no_socket) {
        error = net::last_error_text();
        return false;
    }
    net::set_reuse_address(socket.get());
    std::uint32_t address = 0;
    if (!settings.bind_address.empty() && !net::parse_ipv4(settings.bind_address, address)) {
        error = "bad address " + settings.bind_address;
        return false;
    }
    if (!net::bind_and_listen_v4(socket.get(), address, port)) {
        error = net::last_error_text();
        return false;
    }
    const net::SocketHandle previous = listener_.exchange(socket.release());
    if (previous != net::no_socket) net::close_socket(previous);
    return true;
}

int Endpoint::local_port() const {
    const net::SocketHandle listener = listener_.load();
    return listener == net::no_socket ? 0 : net::local_port(listener);
}

bool Endpoint::run() {
    if (stopping_.load()) return true;
    for (;;) {
        const net::SocketHandle listener = listener_.load();
        if (listener == net::no_socket) break;
        net::PeerAddress address;
        std::string peer_text;
        const net::SocketHandle socket = net::accept_peer(listener, address, peer_text);
        if (socket == net::no_socket) {
            if (stopping_.load()) break;
            // A failure that persists (no descriptors left) must not spin a core.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        if (settings.any_address || is_private_address(address)) {
            net::UniqueSocket owned(socket);
            try {
                accept_one(owned, address, peer_text);
            } catch (const std::bad_alloc&) {
                log("refused " + peer_text + ": out of memory");
            }
        } else {
            log("refused " + peer_text + ": not a private network address");
            net::close_socket(socket);
        }
        if (stopping_.load()) break;
    }
    return stopping_.load();
}

void Endpoint::accept_one(net::UniqueSocket& socket, const net::PeerAddress&,
                          const std::string& peer_text) {
    net::set_no_delay(socket.get());
    auto conn = std::make_shared<Conn>(socket.get(), peer_text);
    socket.release();
    auto finished = std::make_shared<std::atomic<bool>>(false);
    std::vector<std::thread> reaped;
    std::string refused;
    {
        std::lock_guard lock(mutex);
        const auto finished_first =
            std::stable_partition(connections_.begin(), connections_.end(),
                                  [](const ConnEntry& entry) { return !entry.finished->load(); });
        // Room first: a thread taken out must never be dropped unjoined.
        reaped.reserve(static_cast<std::size_t>(connections_.end() - finished_first));
        for (auto it = finished_first; it != connections_.end(); ++it) {
            reaped.push_back(std::move(it->thread));
        }
        connections_.erase(finished_first, connections_.end());
        try {
            // Room first, so that a started thread always finds its entry; grown by doubling,
            // not by one, which would copy the whole list at every accept.
            if (connections_.size() == connections_.capacity())
                connections_.reserve(std::max<std::size_t>(16, connections_.size() * 2));
            std::thread thread = start_thread("session", [this, conn, finished]() mutable {
                serve_connection(std::move(conn));
                finished->exchange(true);
            });
            connections_.push_back(ConnEntry{std::move(thread), finished, conn});
            // A stop that ran between the accept and this registration did not see the
            // connection; shut it down here so its session cannot wait for ever.
            if (stopping_.load()) conn->shutdown();
        } catch (const std::exception& e) {
            // No thread (or no memory for one): this peer goes, everyone else is served on.
            refused = e.what();
        }
    }
    for (auto& thread : reaped)
        thread.join();
    if (!refused.empty()) {
        conn->close();
        log("refused " + conn->peer + ": " + refused);
    }
}

// NOLINTNEXTLINE(performance-unnecessary-value-param): holds the connection for the session
void Endpoint::serve_connection(std::shared_ptr<Conn> conn) {
    try {
        run_session(*this, conn);
    } catch (const std::exception& e) {
        // Out of memory in the handshake, or a thread refused: the session ends, not the
        // process.
        conn->close();
        log(conn->peer + ": " + e.what() + ": dropped");
    }
}

}  // namespace ondelle

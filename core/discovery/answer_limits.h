// How often the responder may speak: a record set is multicast on one interface at most once
// a second (a query inside that second is answered once it is over), and one-shot queries
// get their unicast reply at once but only a few a second from any one address. Times are
// steady-clock nanoseconds, passed in so that the rules can be checked without waiting.
#pragma once

#include <cstdint>
#include <vector>

namespace ondelle::mdns {

inline constexpr std::int64_t multicast_gap_ns = 1'000'000'000;

class MulticastPacing {
  public:
    // The interfaces by address; what is known of an address that stays is kept.
    void set_interfaces(const std::vector<std::uint32_t>& addresses);

    // A multicast answer is due on every interface: those free to speak are returned (and
    // counted as having spoken now); the others owe one answer once their second is over.
    std::vector<std::uint32_t> answer(std::int64_t now);
    // An announcement goes out on every interface now, whatever the pace.
    void announced(std::int64_t now);
    // The owed answers whose second is over; they are counted as sent now.
    std::vector<std::uint32_t> due(std::int64_t now);
    // When the next owed answer falls due; -1 when none is owed.
    std::int64_t next_due() const;

  private:
    struct Link {
        std::uint32_t address = 0;
        std::int64_t last = -multicast_gap_ns;  // never yet
        bool owed = false;
    };
    std::vector<Link> links_;
};

class UnicastBudget {
  public:
    static constexpr int per_second = 4;
    static constexpr std::size_t max_sources = 256;

    // True when a reply to this source may go out now (and counts it).
    bool allow(std::uint32_t source, std::int64_t now);

  private:
    struct Source {
        std::uint32_t address = 0;
        std::int64_t window_start = 0;
        int replies = 0;
    };
    std::vector<Source> sources_;
};

}  // namespace ondelle::mdns

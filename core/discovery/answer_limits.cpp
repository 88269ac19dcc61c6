// The responder's pace per interface and its reply budget per source address.
#include "discovery/answer_limits.h"

#include <algorithm>

namespace ondelle::mdns {

void MulticastPacing::set_interfaces(const std::vector<std::uint32_t>& addresses) {
    std::vector<Link> links;
    links.reserve(addresses.size());
    for (const std::uint32_t address : addresses) {
        const auto known = std::find_if(links_.begin(), links_.end(),
                                        [&](const Link& link) { return link.address == address; });
        links.push_back(known == links_.end() ? Link{address} : *known);
    }
    links_ = std::move(links);
}

std::vector<std::uint32_t> MulticastPacing::answer(std::int64_t now) {
    std::vector<std::uint32_t> free_now;
    for (Link& link : links_) {
        if (now - link.last >= multicast_gap_ns) {
            link.last = now;
            link.owed = false;
            free_now.push_back(link.address);
        } else {
            link.owed = true;
        }
    }
    return free_now;
}

void MulticastPacing::announced(std::int64_t now) {
    for (Link& link : links_) {
        link.last = now;
        link.owed = false;
    }
}

std::vector<std::uint32_t> MulticastPacing::due(std::int64_t now) {
    std::vector<std::uint32_t> ready;
    for (Link& link : links_) {
        if (link.owed && now - link.last >= multicast_gap_ns) {
            link.last = now;
            link.owed = false;
            ready.push_back(link.address);
        }
    }
    return ready;
}

std::int64_t MulticastPacing::next_due() const {
    std::int64_t next = -1;
    for (const Link& link : links_) {
        if (!link.owed) continue;
        const std::int64_t at = link.last + multicast_gap_ns;
        if (next == -1 || at < next) next = at;
    }
    return next;
}

bool UnicastBudget::allow(std::uint32_t source, std::int64_t now) {
    auto entry = std::find_if(sources_.begin(), sources_.end(),
                              [&](const Source& s) { return s.address == source; });
    if (entry == sources_.end()) {
        // Sources whose second is over are forgotten before the list grows; a list full of
        // sources that all spoke this second refuses newcomers until it clears.
        std::erase_if(sources_,
                      [&](const Source& s) { return now - s.window_start >= multicast_gap_ns; });
        if (sources_.size() >= max_sources) return false;
        sources_.push_back(Source{source, now, 0});
        entry = sources_.end() - 1;
    } else if (now - entry->window_start >= multicast_gap_ns) {
        entry->window_start = now;
        entry->replies = 0;
    }
    if (entry->replies >= per_second) return false;
    ++entry->replies;
    return true;
}

}  // namespace ondelle::mdns

// The play queue against a plain list: order across growth and wrap-around, and the memory
// estimate as entries come and go.
#include "engine/player_queue.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "engine/core_variant.h"

namespace ondelle {
namespace {

struct Step {
    char op;  // 'p' push count entries, 'o' pop count, 'c' clear
    std::size_t count;
};

struct Case {
    std::string name;
    std::vector<Step> steps;
};

const std::vector<Case> cases = {
    {"grows from empty past its first size", {{'p', 40}, {'o', 40}}},
    {"wraps round without growing", {{'p', 12}, {'o', 10}, {'p', 13}, {'o', 15}}},
    {"grows while wrapped", {{'p', 14}, {'o', 9}, {'p', 30}, {'o', 20}, {'p', 50}, {'o', 65}}},
    {"clear empties and the ring is used again",
     {{'p', 20}, {'o', 5}, {'c', 0}, {'p', 17}, {'o', 17}}},
};

// Entry n is audio of stream n with 3n bytes, every third with a track title too.
QueueEntry entry(std::int32_t n) {
    QueueEntry e;
    e.type = n % 3 == 0 ? QueueEntry::StreamStart : QueueEntry::Audio;
    e.stream = n;
    e.data.assign(std::size_t(3 * n), std::uint8_t(n));
    if (n % 3 == 0) e.track.title = std::string(std::size_t(n % 7), 't');
    return e;
}

std::uint64_t cost(std::int32_t n) {
    const QueueEntry e = entry(n);
    return queue_entry_cost + e.data.size() + e.track.title.size();
}

TEST(PlayerQueue, KeepsOrderAndItsMemoryEstimate) {
    for (const Case& c : cases) {
        PlayerQueue queue;
        std::deque<std::int32_t> model;
        std::int32_t next = 1;
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            const Step& step = c.steps[i];
            const std::string where = c.name + ", step " + std::to_string(i);
            if (step.op == 'p') {
                for (std::size_t k = 0; k < step.count; ++k) {
                    queue.push(entry(next));
                    model.push_back(next++);
                }
            } else if (step.op == 'o') {
                for (std::size_t k = 0; k < step.count; ++k) {
                    const QueueEntry popped = queue.pop();
                    ASSERT_EQ(popped.stream, model.front()) << where;
                    EXPECT_EQ(popped.data.size(), std::size_t(3 * popped.stream)) << where;
                    model.pop_front();
                }
            } else {
                queue.clear();
                model.clear();
            }
            std::uint64_t bytes = 0;
            for (const std::int32_t n : model)
                bytes += cost(n);
            EXPECT_EQ(queue.size(), model.size()) << where;
            EXPECT_EQ(queue.empty(), model.empty()) << where;
            EXPECT_EQ(queue.queued_bytes(), bytes) << where;
            std::vector<std::int32_t> visited;
            queue.for_each([&](const QueueEntry& e) { visited.push_back(e.stream); });
            EXPECT_EQ(visited, std::vector<std::int32_t>(model.begin(), model.end())) << where;
        }
    }
}

}  // namespace
}  // namespace ondelle

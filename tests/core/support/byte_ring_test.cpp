// The byte ring against a plain queue of bytes: wrapping at the end, full, empty, discarding,
// for both kinds of position.
#include "support/byte_ring.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace ondelle {
namespace {

struct Step {
    char op;            // 'w' write, 'r' read, 'd' discard
    std::size_t bytes;  // asked for
    std::size_t moved;  // what the ring should take or give
};

struct Case {
    std::string name;
    std::size_t size;
    std::vector<Step> steps;
};

const std::vector<Case> cases = {
    {"empty ring gives nothing", 8, {{'r', 4, 0}, {'w', 0, 0}, {'r', 1, 0}}},
    {"fills exactly and refuses more", 8, {{'w', 8, 8}, {'w', 1, 0}, {'r', 8, 8}, {'r', 1, 0}}},
    {"a write larger than the room is cut", 8, {{'w', 5, 5}, {'w', 5, 3}, {'r', 10, 8}}},
    {"wraps at the end in both directions",
     8,
     {{'w', 6, 6}, {'r', 5, 5}, {'w', 6, 6}, {'r', 7, 7}, {'w', 8, 8}, {'r', 3, 3}, {'r', 8, 5}}},
    {"discard while full frees it all", 8, {{'w', 8, 8}, {'d', 0, 0}, {'w', 8, 8}, {'r', 8, 8}}},
    {"discard after a wrap", 6, {{'w', 5, 5}, {'r', 4, 4}, {'w', 4, 4}, {'d', 0, 0}, {'w', 6, 6}}},
    {"many laps",
     5,
     {{'w', 3, 3},
      {'r', 3, 3},
      {'w', 3, 3},
      {'r', 3, 3},
      {'w', 3, 3},
      {'r', 3, 3},
      {'w', 4, 4},
      {'r', 2, 2},
      {'w', 3, 3},
      {'r', 5, 5}}},
};

template <class Ring>
void run_case(const Case& c) {
    Ring ring;
    ring.reset(c.size);
    std::deque<std::uint8_t> model;
    std::uint8_t next = 1;
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
        const Step& step = c.steps[i];
        const std::string where = c.name + ", step " + std::to_string(i);
        if (step.op == 'w') {
            std::vector<std::uint8_t> data(step.bytes);
            for (auto& byte : data)
                byte = next++;
            ASSERT_EQ(ring.write(data.data(), data.size()), step.moved) << where;
            model.insert(model.end(), data.begin(), data.begin() + long(step.moved));
            next = std::uint8_t(next - (step.bytes - step.moved));
        } else if (step.op == 'r') {
            std::vector<std::uint8_t> out(step.bytes, 0);
            ASSERT_EQ(ring.read(out.data(), out.size()), step.moved) << where;
            const std::vector<std::uint8_t> expected(model.begin(),
                                                     model.begin() + long(step.moved));
            out.resize(step.moved);
            EXPECT_EQ(out, expected) << where;
            model.erase(model.begin(), model.begin() + long(step.moved));
        } else {
            ring.discard();
            model.clear();
        }
        EXPECT_EQ(ring.queued(), model.size()) << where;
        EXPECT_EQ(ring.room(), c.size - model.size()) << where;
    }
}

TEST(ByteRing, MatchesAQueueOfBytes) {
    for (const Case& c : cases) {
        run_case<ByteRing>(c);
        run_case<SharedByteRing>(c);
    }
}

TEST(ByteRing, ReadableSplitsAtTheEndAndConsumeFreesRoom) {
    SharedByteRing ring;
    ring.reset(8);
    const std::uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ring.write(data, 6);
    ring.consume(5);
    ring.write(data, 6);  // bytes 1..6 at offsets 6, 7, 0, 1, 2, 3
    const RingRuns<const std::uint8_t> runs = ring.readable(5);
    ASSERT_EQ(runs.first.size(), 3u);  // the 6 left from before, then 1 and 2
    ASSERT_EQ(runs.second.size(), 2u);
    EXPECT_EQ(runs.first[1], 1);
    EXPECT_EQ(runs.second[0], 3);
    EXPECT_EQ(ring.queued(), 7u);  // readable takes nothing
    ring.consume(runs.size());
    EXPECT_EQ(ring.room(), 6u);
}

}  // namespace
}  // namespace ondelle

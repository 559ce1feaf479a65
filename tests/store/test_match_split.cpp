// The comparisons of one touch shared between threads: whatever the number
// of helpers and however long each comparison takes, the answer is the one
// of a walk in order, and nothing after it is reported.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <random>
#include <set>
#include <thread>

#include "engine/match_split.h"

namespace {

// Items in accepted are matches; every comparison takes a random while.
// out gets the items handed back (on this thread), in the order they came.
int search(std::size_t count, const std::set<std::size_t> &accepted, unsigned seed, std::vector<Comparison> &out)
{
    out.clear();
    auto delays = std::make_shared<std::vector<int>>();
    std::mt19937 rng(seed);
    for (std::size_t i = 0; i < count; ++i)
        delays->push_back(static_cast<int>(rng() % 400));
    return findFirstAccepted(
        count,
        [delays, accepted](std::size_t i, std::vector<uint8_t> &) {
            std::this_thread::sleep_for(std::chrono::microseconds((*delays)[i]));
            Comparison c;
            c.kind = Comparison::SCORED;
            c.score = static_cast<int>(i);
            c.accepted = accepted.count(i) != 0;
            return c;
        },
        [&out, caller = std::this_thread::get_id()](std::size_t i, const Comparison &c) {
            EXPECT_EQ(std::this_thread::get_id(), caller);
            EXPECT_EQ(i, out.size());
            out.push_back(c);
        });
}

} // namespace

TEST(MatchSplit, AnyNumberOfHelpersGivesTheFirstMatchInOrder)
{
    for (unsigned helpers : {0u, 1u, 3u}) {
        setMatchHelpers(helpers);
        for (unsigned seed = 0; seed < 20; ++seed) {
            std::vector<Comparison> out;
            ASSERT_EQ(search(40, {23, 9 + seed % 5, 31}, seed, out), static_cast<int>(9 + seed % 5)) << helpers;
            // Every item up to the winner, in order, and nothing after it.
            ASSERT_EQ(out.size(), 10 + seed % 5);
            for (std::size_t i = 0; i < out.size(); ++i)
                EXPECT_EQ(out[i].score, static_cast<int>(i));
            // No match: everything.
            ASSERT_EQ(search(12, {}, seed, out), -1);
            EXPECT_EQ(out.size(), 12u);
        }
    }
    setMatchHelpers(1);
    std::vector<Comparison> out;
    EXPECT_EQ(search(0, {}, 0, out), -1);
    EXPECT_EQ(search(1, {0}, 0, out), 0);
}

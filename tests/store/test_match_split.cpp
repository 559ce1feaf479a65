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
int search(std::size_t count, const std::set<std::size_t> &accepted, unsigned seed, std::vector<Comparison> &out)
{
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
        out);
}

} // namespace

TEST(MatchSplit, AnyNumberOfHelpersGivesTheFirstMatchInOrder)
{
    for (unsigned helpers : {0u, 1u, 3u}) {
        setMatchHelpers(helpers);
        for (unsigned seed = 0; seed < 20; ++seed) {
            std::vector<Comparison> out;
            ASSERT_EQ(search(40, {23, 9 + seed % 5, 31}, seed, out), static_cast<int>(9 + seed % 5)) << helpers;
            ASSERT_EQ(out.size(), 40u);
            for (std::size_t i = 0; i < out.size(); ++i) {
                if (i <= 9 + seed % 5) {
                    EXPECT_EQ(out[i].kind, Comparison::SCORED) << i;
                    EXPECT_EQ(out[i].score, static_cast<int>(i));
                } else {
                    EXPECT_EQ(out[i].kind, Comparison::NOT_COMPARED) << i;
                }
            }
            // No match: everything compared.
            ASSERT_EQ(search(12, {}, seed, out), -1);
            for (const Comparison &c : out)
                EXPECT_EQ(c.kind, Comparison::SCORED);
        }
    }
    setMatchHelpers(1);
    std::vector<Comparison> out;
    EXPECT_EQ(search(0, {}, 0, out), -1);
    EXPECT_EQ(search(1, {0}, 0, out), 0);
}

// The verification's comparison order: recent matches first, most recent
// foremost, everything else in the store's order.
#include <gtest/gtest.h>

#include "engine/match_order.h"

namespace {

std::vector<TemplateRef> refs(std::initializer_list<const char *> users)
{
    std::vector<TemplateRef> out;
    for (const char *u : users)
        out.push_back({u, "f.Data"});
    return out;
}

std::string order(const std::vector<TemplateRef> &v)
{
    std::string s;
    for (const TemplateRef &t : v)
        s += t.user;
    return s;
}

} // namespace

TEST(MatchOrder, RecentMatchesComeFirstAndTheRestKeepTheirOrder)
{
    forgetMatches();
    auto v = refs({"a", "b", "c", "d", "e"});
    orderByRecentMatches(v);
    EXPECT_EQ(order(v), "abcde");
    noteMatch({"d", "f.Data"});
    noteMatch({"b", "f.Data"});
    noteMatch({"d", "f.Data"});
    noteMatch({"x", "gone.Data"});
    orderByRecentMatches(v);
    EXPECT_EQ(order(v), "dbace");
    // Only the finger that matched moves up, not the user's others.
    std::vector<TemplateRef> w = {{"d", "other.Data"}, {"a", "f.Data"}, {"d", "f.Data"}};
    orderByRecentMatches(w);
    EXPECT_EQ(w[0].file, "f.Data");
    EXPECT_EQ(w[0].user, "d");
    // The memory is bounded: the oldest match is forgotten.
    for (std::size_t i = 0; i < VL_RECENT_MATCHES; ++i)
        noteMatch({"n" + std::to_string(i), "f.Data"});
    v = refs({"e", "d", "c", "b", "a"});
    orderByRecentMatches(v);
    EXPECT_EQ(order(v), "edcba");
    forgetMatches();
}

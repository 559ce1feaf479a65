#include "engine/match_order.h"

#include <algorithm>
#include <mutex>

namespace {

// Most recent first. Names of templates deleted or renamed since are only
// dead weight: they meet no candidate.
std::mutex s_mutex;
std::vector<TemplateRef> s_recent;

bool same(const TemplateRef &a, const TemplateRef &b) { return a.user == b.user && a.file == b.file; }

} // namespace

void orderByRecentMatches(std::vector<TemplateRef> &candidates)
{
    std::lock_guard lock(s_mutex);
    if (s_recent.empty())
        return;
    auto rank = [](const TemplateRef &t) {
        auto it = std::find_if(s_recent.begin(), s_recent.end(), [&](const TemplateRef &r) { return same(r, t); });
        return static_cast<std::size_t>(it - s_recent.begin());
    };
    std::stable_sort(candidates.begin(), candidates.end(),
                     [&](const TemplateRef &a, const TemplateRef &b) { return rank(a) < rank(b); });
}

void noteMatch(const TemplateRef &matched)
{
    std::lock_guard lock(s_mutex);
    auto it = std::find_if(s_recent.begin(), s_recent.end(), [&](const TemplateRef &r) { return same(r, matched); });
    if (it != s_recent.end())
        s_recent.erase(it);
    s_recent.insert(s_recent.begin(), matched);
    if (s_recent.size() > VL_RECENT_MATCHES)
        s_recent.pop_back();
}

void forgetMatches()
{
    std::lock_guard lock(s_mutex);
    s_recent.clear();
}

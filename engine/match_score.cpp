#include "engine/match_score.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/alg/fpalg.h"
#include "engine/capture_ring.h"
#include "engine/drv_state.h"
#include "engine/feature_extraction.h"
#include "engine/match_order.h"
#include "engine/match_split.h"
#include "engine/template_paths.h"
#include "engine/template_store.h"
#include "log/log.h"

namespace {

struct Filter {
    bool any = true;
    bool exact = false;
    char name[64] = {};
    std::size_t length = 0;

    Filter(const char *finger, bool exactName) : exact(exactName)
    {
        if (finger[0] == '\0' || std::strcmp(finger, "any") == 0)
            return;
        any = false;
        // A long finger name is cut to the buffer while the compared length
        // stays whole, so only a file of exactly the cut name passes.
        std::snprintf(name, sizeof name, "%s%s", finger, VL_TEMPLATE_SUFFIX);
        length = std::strlen(finger) + VL_TEMPLATE_SUFFIX_LEN;
    }

    bool passes(const char *file) const
    {
        if (any)
            return true;
        std::size_t cut = std::strlen(name);
        if (exact || length > cut)
            return length == cut && std::strcmp(file, name) == 0;
        return std::strncmp(file, name, length) == 0;
    }
};

// The file of the last match, until it is renewed. Worker thread only.
char s_matchedPath[VL_PATH_SIZE];

// What the comparisons of one touch read, held by each of them until the
// last one ends (a helper may still compare after the answer is out).
struct SearchInputs {
    std::vector<std::string> paths;
    std::vector<bool> announceable;
    std::vector<uint8_t> probe;
    // Only the first template that can be scored counts, match or not.
    bool firstOnly = false;
};

// Reads template i into buf and scores the probe against it.
Comparison compareOne(const SearchInputs &in, std::size_t i, std::vector<uint8_t> &buf)
{
    Comparison c;
    buf.resize(FPALG_TEMPLATE_SIZE);
    long got = readTemplateFile(in.paths[i].c_str(), buf.data(), FPALG_TEMPLATE_SIZE);
    if (got < 0) {
        c.kind = Comparison::UNREADABLE;
        return c;
    }
    if (got < FPALG_TEMPLATE_SIZE) {
        c.kind = Comparison::SHORT;
        c.bytes = got;
        return c;
    }
    c.kind = Comparison::SCORED;
    c.score = FpAlg_MatchScore(buf.data(), in.probe.data());
    const bool match = c.score > FPALG_MATCH_THRESHOLD;
    // A match that cannot be announced is passed over, as an unreadable file
    // is; with firstOnly any other score ends the search too.
    c.accepted = match ? static_cast<bool>(in.announceable[i]) : in.firstOnly;
    return c;
}

// The templates of one user directory that pass the filter, in directory
// order; the directory's template count is the result (negative: missing).
int listUser(const char *base, const char *user, const Filter &filter, std::vector<TemplateRef> &out)
{
    char userDir[VL_PATH_SIZE];
    if (std::snprintf(userDir, sizeof userDir, "%s%s/", base, user) >= static_cast<int>(sizeof userDir))
        return 0;
    return forEachSubFile(userDir, 1, [&](const char *file) {
        if (filter.passes(file))
            out.push_back({user, file});
        return true;
    });
}

// A named user's directory, as the lister of every user would count it: a
// real directory, not a link to somebody else's.
bool isUserDirectory(const char *user)
{
    char path[VL_PATH_SIZE];
    if (!formatUserDir(path, sizeof path, user))
        return false;
    path[std::strlen(path) - 1] = '\0';
    struct stat st;
    return lstat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// The finger's name: the file's name less ".Data", when it fits.
void fingerOf(const std::string &file, char (&out)[64])
{
    std::string stem = file.substr(0, file.size() - VL_TEMPLATE_SUFFIX_LEN);
    if (!copyName(out, stem.c_str()))
        out[0] = '\0';
}

} // namespace

int vlFpMatchScore(const MatchScope &scope, char (&matchedId)[64], char (&matchedFinger)[64])
{
    const bool oneUser = scope.user[0] != '\0';
    const Filter filter(scope.finger, oneUser);
    const char *base = templateBaseDir();
    if (oneUser ? !isUserDirectory(scope.user) : getSubFile(base, nullptr, 0) <= 0)
        return VL_NO_USER;

    int made = CreateFingerPrintMinutiae(getCapture_Image(), m_opFeatureRecord, opnCharNum);
    _vllog("MODE_VERIFY CreateFingerPrintMinutiae ret = %d\n", made);
    freeCapture_Image();
    if (made != 1)
        return 0;

    // Every user directory is visited, however many there are: a user left
    // out of a bounded list could never be recognised.
    std::vector<TemplateRef> candidates;
    int total = 0;
    auto addUser = [&](const char *user) {
        int files = listUser(base, user, filter, candidates);
        if (files > 0)
            total += files;
        return true;
    };
    if (oneUser)
        addUser(scope.user);
    else
        forEachSubFile(base, 0, addUser);
    // Without a user, a filter has always meant the first such file in the
    // store's order, and nothing else; that order stays.
    const bool firstOnly = !filter.any && !oneUser;
    if (!firstOnly)
        orderByRecentMatches(candidates);

    // The comparisons are shared between this thread and the helpers; their
    // outcomes come back in order, as one thread would have made them.
    auto in = std::make_shared<SearchInputs>();
    in->firstOnly = firstOnly;
    std::vector<const TemplateRef *> refs;
    for (const TemplateRef &t : candidates) {
        char path[VL_PATH_SIZE];
        if (std::snprintf(path, sizeof path, "%s%s/%s", base, t.user.c_str(), t.file.c_str()) >=
            static_cast<int>(sizeof path))
            continue;
        in->paths.emplace_back(path);
        // A user id that does not fit the result buffer cannot be announced
        // faithfully; a cut one could name another user.
        in->announceable.push_back(t.user.size() < sizeof matchedId);
        refs.push_back(&t);
    }
    in->probe.assign(m_opFeatureRecord, m_opFeatureRecord + FPALG_TEMPLATE_SIZE);

    // Each outcome is logged, in order, while the later ones are still
    // being compared.
    int best = 0;
    int lastScore = 0;
    auto logOutcome = [&](std::size_t i, const Comparison &c) {
        switch (c.kind) {
        case Comparison::UNREADABLE: _vllog("%s fopen error \n", "ReadFromMinutiaeFile"); return;
        case Comparison::SHORT:
            _vllog("%s short template %s (%ld bytes)\n", "ReadFromMinutiaeFile", in->paths[i].c_str(), c.bytes);
            return;
        case Comparison::SCORED: break;
        case Comparison::NOT_COMPARED: return;
        }
        _vllog("%s score:%d\n", "vlFpMatchScore", c.score);
        lastScore = c.score;
        if (c.score <= FPALG_MATCH_THRESHOLD) {
            if (best == 0)
                best = c.score;
        } else if (!in->announceable[i]) {
            _vllog("user id too long: %s\n", refs[i]->user.c_str());
        }
    };
    const int winner = findFirstAccepted(
        in->paths.size(), [in](std::size_t i, std::vector<uint8_t> &buf) { return compareOne(*in, i, buf); },
        logOutcome);
    // The winner comes last. Without firstOnly it is a match; with it, the
    // first template that could be scored, which decides, match or not.
    if (winner >= 0 && lastScore > FPALG_MATCH_THRESHOLD) {
        const TemplateRef &t = *refs[winner];
        copyName(matchedId, t.user.c_str());
        fingerOf(t.file, matchedFinger);
        std::snprintf(s_matchedPath, sizeof s_matchedPath, "%s", in->paths[winner].c_str());
        noteMatch(t);
        return VL_MATCH_FOUND;
    }
    if (winner >= 0)
        return best;
    if (total == 0)
        return VL_NO_TEMPLATE;
    return filter.any ? best : (candidates.empty() || firstOnly ? VL_NO_FINGER : best);
}

void vlRenewMatchedTemplate()
{
    if (s_matchedPath[0] == '\0')
        return;
    // The library renews the last match of the thread that scored it. That
    // may have been a helper, while this thread scored another template: the
    // pair is scored again here first.
    std::vector<uint8_t> stored(FPALG_TEMPLATE_SIZE);
    if (readTemplateFile(s_matchedPath, stored.data(), stored.size()) != FPALG_TEMPLATE_SIZE) {
        s_matchedPath[0] = '\0';
        return;
    }
    FpAlg_MatchScore(stored.data(), m_opFeatureRecord);
    int16_t o1, o2, o3;
    if (FpAlg_RenewFeature(m_opFeatureOut, &o1, &o2, &o3) == 0) {
        std::lock_guard lock(templateFileLock());
        if (access(s_matchedPath, F_OK) == 0)
            writeTemplateAtomic(s_matchedPath, m_opFeatureOut, FPALG_TEMPLATE_SIZE);
    }
    s_matchedPath[0] = '\0';
}

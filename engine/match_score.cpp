#include "engine/match_score.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "engine/alg/fpalg.h"
#include "engine/capture_ring.h"
#include "engine/drv_state.h"
#include "engine/feature_extraction.h"
#include "engine/template_paths.h"
#include "engine/template_store.h"
#include "log/log.h"

namespace {

struct Filter {
    bool any = true;
    char name[64] = {};
    std::size_t length = 0;

    explicit Filter(const char *finger)
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
        if (length > cut)
            return std::strcmp(file, name) == 0;
        return std::strncmp(file, name, length) == 0;
    }
};

// Writes the renewed template over the matched file, if the library renewed
// it and the file is still there. A failure leaves the old template in place.
void renewTemplate(const char *path)
{
    int16_t o1, o2, o3;
    if (FpAlg_RenewFeature(m_opFeatureOut, &o1, &o2, &o3) != 0)
        return;
    std::lock_guard lock(templateFileLock());
    if (access(path, F_OK) == 0)
        writeTemplateAtomic(path, m_opFeatureOut, FPALG_TEMPLATE_SIZE);
}

enum class Scan { Next, Matched, Stop };

} // namespace

int vlFpMatchScore(const char *finger, char (&matchedId)[64])
{
    const Filter filter(finger);
    const char *base = templateBaseDir();
    if (getSubFile(base, nullptr, 0) <= 0)
        return VL_NO_USER;

    int made = CreateFingerPrintMinutiae(getCapture_Image(), m_opFeatureRecord, opnCharNum);
    _vllog("MODE_VERIFY CreateFingerPrintMinutiae ret = %d\n", made);
    freeCapture_Image();
    if (made != 1)
        return 0;

    int best = 0;
    int total = 0;
    Scan outcome = Scan::Next;
    // Every user directory is visited, however many there are: a user left
    // out of a bounded list could never be recognised.
    forEachSubFile(base, 0, [&](const char *user) {
        char userDir[VL_PATH_SIZE];
        if (std::snprintf(userDir, sizeof userDir, "%s%s/", base, user) >= static_cast<int>(sizeof userDir))
            return true;
        int files = forEachSubFile(userDir, 1, [&](const char *file) {
            if (!filter.passes(file))
                return true;
            char path[VL_PATH_SIZE];
            if (std::snprintf(path, sizeof path, "%s%s", userDir, file) >= static_cast<int>(sizeof path))
                return true;
            long got = readTemplateFile(path, m_opFeatureArr, FPALG_TEMPLATE_SIZE);
            if (got < 0) {
                _vllog("%s fopen error \n", "ReadFromMinutiaeFile");
                return true;
            }
            if (got < FPALG_TEMPLATE_SIZE) {
                _vllog("%s short template %s (%ld bytes)\n", "ReadFromMinutiaeFile", path, got);
                return true;
            }
            int16_t score = FpAlg_MatchScore(m_opFeatureArr, m_opFeatureRecord);
            _vllog("%s score:%d\n", "vlFpMatchScore", score);
            if (score > FPALG_MATCH_THRESHOLD) {
                // A user id that does not fit the result buffer cannot be
                // announced faithfully; a cut one could name another user.
                if (!copyName(matchedId, user)) {
                    _vllog("user id too long: %s\n", user);
                    return true;
                }
                renewTemplate(path);
                outcome = Scan::Matched;
                return false;
            }
            if (best == 0)
                best = score;
            if (!filter.any) {
                outcome = Scan::Stop;
                return false;
            }
            return true;
        });
        if (files > 0)
            total += files;
        return outcome == Scan::Next;
    });

    if (outcome == Scan::Matched)
        return VL_MATCH_FOUND;
    if (outcome == Scan::Stop)
        return best;
    if (total == 0)
        return VL_NO_TEMPLATE;
    return filter.any ? best : VL_NO_FINGER;
}

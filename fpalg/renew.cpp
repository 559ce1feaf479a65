#include "renew.h"

#include <memory>

#include "registration.h"

namespace fpalg {
namespace {

struct LastMatch {
    bool valid = false;
    Template stored, probe;
    ScoreParts parts;
};

LastMatch &last() {
    thread_local std::unique_ptr<LastMatch> m = std::make_unique<LastMatch>();
    return *m;
}

// Probe pixels that no stored view of the matched frame covers.
int new_area(const Template &probe, const ScoreParts &parts) {
    int blocks = 0;
    for (const std::uint8_t on : probe.views[0].mask) blocks += on != 0;
    return blocks * params::kMaskBlock * params::kMaskBlock - parts.overlap_px;
}

// The renewal slot to overwrite: a free one, else the renewal view that
// matched least often.
int renewal_slot(const Template &t) {
    if (t.view_count < params::kMaxViews) return t.view_count;
    int slot = -1;
    for (int i = 0; i < t.view_count; ++i)
        if (t.views[i].origin == 1 && (slot < 0 || t.views[i].hits < t.views[slot].hits)) slot = i;
    return slot;
}

}  // namespace

void remember_match(const Template *stored, const Template *probe, const ScoreParts &parts) {
    LastMatch &m = last();
    m.valid = stored && probe && parts.score > params::kMatchThreshold;
    if (!m.valid) return;
    m.stored = *stored;
    m.probe = *probe;
    m.parts = parts;
}

RenewResult renew_last_match(Template &out) {
    LastMatch &m = last();
    if (!m.valid) return RenewResult::no_match;
    m.valid = false;  // one renewal per match
    if (m.parts.score < params::kRenewMinScore) return RenewResult::too_weak;
    out = m.stored;
    View &hit = out.views[m.parts.view];
    if (hit.hits < 0xFFFF) ++hit.hits;
    // Only a capture placed on an enrolled view may join: a renewal placed
    // on an earlier renewal could walk, match by match, off the enrolled
    // finger and onto whoever matched it last. A capture of area already
    // enrolled teaches nothing; the slots are kept for captures that widen
    // what the next touch can land on. Either way the match counts.
    if (hit.origin != 0 || new_area(m.probe, m.parts) < params::kRenewMinNewPx) return RenewResult::renewed;
    const int slot = renewal_slot(out);
    if (slot < 0) return RenewResult::too_weak;
    View &fresh = out.views[slot];
    fresh = m.probe.views[0];
    fresh.origin = 1;
    fresh.hits = 0;
    const View &on = m.stored.views[m.parts.view];
    set_pose(fresh, on.frame, pose_from_alignment(pose_of(on), m.parts));
    if (slot == out.view_count) ++out.view_count;
    if (out.renewals < 0xFFFF) ++out.renewals;
    return RenewResult::renewed;
}

}  // namespace fpalg

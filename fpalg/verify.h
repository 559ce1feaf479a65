// Verification of one coarse alignment at full resolution: refines the
// shift, then correlates 16 x 16 blocks, each free to move a little, so
// that skin distortion does not break the agreement of ridge detail.
#pragma once

#include <memory>

#include "coarse_align.h"
#include "score_parts.h"

namespace fpalg {

// Correlation of the whole overlap when probe pixel p lies on view pixel
// p + (dy, dx); `pixels` receives the overlap size.
float overlap_ncc(const RidgeView &view, const RidgeView &probe, int dy, int dx, int &pixels);

// The same over view rows [y0, y1) and columns [x0, x1) only.
float region_ncc(const RidgeView &view, const RidgeView &probe, int dy, int dx, int y0, int y1, int x0, int x1,
                 int &pixels);

// A view and a probe compared at many shifts: each image's squared values
// and weight masks are worked out once, and every correlation then costs
// one multiplication per pixel instead of six. The results are those of
// region_ncc, bit for bit. Works on copies: later changes to the images
// are not seen.
class PairedRidges {
public:
    PairedRidges(const RidgeView &view, const RidgeView &probe);
    ~PairedRidges();
    float region_ncc(int dy, int dx, int y0, int y1, int x0, int x1, int &pixels) const;
    // region_ncc at shifts (dy0 + k, dx) for k < count, bit for bit, into
    // ncc[k] and pixels[k]: shifts that differ only in rows are correlated
    // together, loading the view's pixels once for all of them.
    void region_ncc_rows(int dy0, int count, int dx, int y0, int y1, int x0, int x1, float *ncc, int *pixels) const;
    struct Prepared;

private:
    Prepared *v_, *p_;  // the thread's own, or owned_ when it already uses those
    std::unique_ptr<Prepared[]> owned_;
};

// Fills the overlap and correlation terms of `parts` (view, angle and
// peak are the caller's).
void verify_alignment(const RidgeView &view, const RidgeView &probe, const Peak &start, ScoreParts &parts);

// Verification of a coarse candidate on its own view, and, when the view is
// registered with others, on the union of its frame's views under the probe
// (built in `canvas`); the better of the two. views: decoded ridges of
// stored.views.
ScoreParts verify_candidate(const Template &stored, const StoredRidges &views, const ProbeCache &probe,
                            const Candidate &c, RidgeView &canvas);

}  // namespace fpalg

// Transparency: every stage reports what it computed to a thread-local
// sink, one checkpoint per stage at the orchestrator. Nobody listens by
// default, so a checkpoint costs one pointer test. The vorl2547-fpalg tool
// installs a sink to print or draw what the matcher saw.
#pragma once

#include <vector>

#include "coarse_align.h"
#include "elastic.h"
#include "minutiae.h"
#include "ridge_filter.h"
#include "score_parts.h"
#include "template_format.h"
#include "view_image.h"

namespace fpalg::debug {

// Every checkpoint in the order a capture and a comparison pass them.
class Sink {
public:
    virtual ~Sink() = default;
    virtual void on_band_pass(const RidgeImage &) {}                  // band-passed capture and its local energy
    virtual void on_levels(const View &) {}                           // ridges quantised to two bits (view.level)
    virtual void on_mask(const View &, int /*foreground_blocks*/) {}  // foreground blocks (view.mask)
    virtual void on_view(const View &) {}                             // a capture as stored
    virtual void on_candidate(const Candidate &) {}                   // one coarse alignment, best peaks first
    virtual void on_alignment(const ScoreParts &) {}                  // one verified alignment
    // The best alignment's frame under the probe (probe pixel p on canvas pixel p).
    virtual void on_union(const RidgeView & /*canvas*/, const ScoreParts & /*best*/) {}
    virtual void on_elastic(const ElasticFit &) {}  // the blocks' fitted displacement
    // Minutiae of both images in the common area, and which of them paired.
    virtual void on_minutiae(const MinutiaeAgreement &, const MinutiaeLayout &) {}
};

// Installs `sink` for the current thread while the scope lives.
class Scope {
public:
    explicit Scope(Sink *sink);
    ~Scope();
    Scope(const Scope &) = delete;
    Scope &operator=(const Scope &) = delete;

private:
    Sink *previous_;
};

// Whether a sink is installed: lets a stage skip what only a sink would read.
bool listening();

void band_pass(const RidgeImage &r);
void levels(const View &v);
void mask(const View &v, int foreground_blocks);
void view(const View &v);
void candidates(const std::vector<Candidate> &cands);
void alignment(const ScoreParts &p);
void union_canvas(const RidgeView &canvas, const ScoreParts &best);
void elastic(const ElasticFit &f);
void minutiae(const MinutiaeAgreement &m, const MinutiaeLayout &layout);

}  // namespace fpalg::debug

#include "debug_sink.h"

namespace fpalg::debug {
namespace {
thread_local Sink *current = nullptr;
}

Scope::Scope(Sink *sink) : previous_(current) { current = sink; }
Scope::~Scope() { current = previous_; }

bool listening() { return current != nullptr; }

void band_pass(const RidgeImage &r) {
    if (current) current->on_band_pass(r);
}
void levels(const View &v) {
    if (current) current->on_levels(v);
}
void mask(const View &v, int foreground_blocks) {
    if (current) current->on_mask(v, foreground_blocks);
}
void view(const View &v) {
    if (current) current->on_view(v);
}
void candidates(const std::vector<Candidate> &cands) {
    if (current)
        for (const Candidate &c : cands) current->on_candidate(c);
}
void alignment(const ScoreParts &p) {
    if (current) current->on_alignment(p);
}
void union_canvas(const RidgeView &canvas, const ScoreParts &best) {
    if (current) current->on_union(canvas, best);
}
void elastic(const ElasticFit &f) {
    if (current) current->on_elastic(f);
}
void minutiae(const MinutiaeAgreement &m, const MinutiaeLayout &layout) {
    if (current) current->on_minutiae(m, layout);
}

}  // namespace fpalg::debug

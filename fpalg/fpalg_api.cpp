// The five exported calls: argument checks, template decoding and encoding
// around the orchestrators. Nothing else leaves the library.
#include "../engine/alg/fpalg.h"

#include <cstring>
#include <memory>

#include "create.h"
#include "match.h"
#include "merge.h"
#include "renew.h"

#define FPALG_EXPORT __attribute__((visibility("default")))

// FpAlg_CreateTemplate16 writes the foreground block count and the view
// count into the count record; its scratch buffer is not needed.
static_assert(FPALG_COUNT_RECORD_SIZE >= 2);

namespace {

using fpalg::Template;

void set_out(std::int16_t *p, int v) {
    if (p) *p = static_cast<std::int16_t>(v);
}

// Decoded templates are large; keep them off the caller's stack.
struct Scratch {
    Template a, b, out;
};
Scratch &scratch() {
    thread_local std::unique_ptr<Scratch> s = std::make_unique<Scratch>();
    return *s;
}

}  // namespace

extern "C" {

FPALG_EXPORT int FpAlg_Init(int) { return 0; }

FPALG_EXPORT int16_t FpAlg_CreateTemplate16(const uint16_t *image, uint8_t *, int width, int height, uint8_t *templ,
                                            uint8_t *countRecord) {
    if (!image || !templ || width != FPALG_IMAGE_SIDE || height != FPALG_IMAGE_SIDE) return -1;
    Template &t = scratch().out;
    int foreground = 0;
    const fpalg::CreateResult r = fpalg::create_template(image, t, foreground);
    if (countRecord) {
        countRecord[0] = static_cast<uint8_t>(foreground);
        countRecord[1] = static_cast<uint8_t>(t.view_count);
    }
    std::memset(templ, 0, fpalg::kTemplateBytes);
    if (r != fpalg::CreateResult::made) return 0;
    fpalg::encode_template(t, templ);
    return 1;
}

FPALG_EXPORT int16_t FpAlg_MergeFeature(const uint8_t *a, const uint8_t *b, uint8_t *out, int16_t *o1, int16_t *o2,
                                        int16_t *o3) {
    Scratch &s = scratch();
    fpalg::MergeResult r = fpalg::MergeResult::bad_input;
    if (out && fpalg::decode_template(a, s.a) && fpalg::decode_template(b, s.b))
        r = fpalg::merge_templates(s.a, s.b, s.out);
    if (r == fpalg::MergeResult::merged) fpalg::encode_template(s.out, out);
    set_out(o1, r == fpalg::MergeResult::merged ? s.out.view_count : 0);
    set_out(o2, static_cast<int>(r));
    set_out(o3, 0);
    return static_cast<int16_t>(r);
}

FPALG_EXPORT int16_t FpAlg_MatchScore(const uint8_t *stored, const uint8_t *probe) {
    Scratch &s = scratch();
    if (!fpalg::decode_template(stored, s.a) || !fpalg::decode_template(probe, s.b)) {
        fpalg::remember_match(nullptr, nullptr, {});
        return 0;
    }
    const fpalg::ScoreParts parts = fpalg::match_templates(s.a, s.b);
    fpalg::remember_match(&s.a, &s.b, parts);
    return static_cast<int16_t>(parts.score);
}

FPALG_EXPORT int16_t FpAlg_RenewFeature(uint8_t *out, int16_t *o1, int16_t *o2, int16_t *o3) {
    Template &t = scratch().out;
    fpalg::RenewResult r = out ? fpalg::renew_last_match(t) : fpalg::RenewResult::no_match;
    if (r == fpalg::RenewResult::renewed) fpalg::encode_template(t, out);
    set_out(o1, r == fpalg::RenewResult::renewed ? t.view_count : 0);
    set_out(o2, static_cast<int>(r));
    set_out(o3, 0);
    return static_cast<int16_t>(r);
}

}  // extern "C"

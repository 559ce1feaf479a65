// FpAlg_MergeFeature with arbitrary bytes as either template; a merged
// result must itself be a template the library accepts.
#include "fpalg_fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 1) return 0;
    const bool repair = data[0] & 1, first = data[0] & 2;
    const fpalg_fuzz::Bytes fuzzed = fpalg_fuzz::template_from(data + 1, size - 1, repair);
    const fpalg_fuzz::Bytes &probe = fpalg_fuzz::valid_probe();
    fpalg_fuzz::Bytes out(FPALG_TEMPLATE_SIZE);
    std::int16_t o1, o2, o3;
    const int r = first ? FpAlg_MergeFeature(fuzzed.data(), probe.data(), out.data(), &o1, &o2, &o3)
                        : FpAlg_MergeFeature(probe.data(), fuzzed.data(), out.data(), &o1, &o2, &o3);
    if (r == 0 && FpAlg_MatchScore(out.data(), probe.data()) <= 0) __builtin_trap();
    return 0;
}

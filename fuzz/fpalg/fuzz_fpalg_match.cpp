// FpAlg_MatchScore with arbitrary bytes as the stored template (and as the
// probe), followed by a renewal of whatever matched.
#include "fpalg_fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 1) return 0;
    const bool repair = data[0] & 1, as_probe = data[0] & 2;
    const fpalg_fuzz::Bytes fuzzed = fpalg_fuzz::template_from(data + 1, size - 1, repair);
    const fpalg_fuzz::Bytes &probe = fpalg_fuzz::valid_probe();
    const int s =
        as_probe ? FpAlg_MatchScore(probe.data(), fuzzed.data()) : FpAlg_MatchScore(fuzzed.data(), probe.data());
    if (s < 0 || s > 100) __builtin_trap();
    fpalg_fuzz::Bytes out(FPALG_TEMPLATE_SIZE);
    std::int16_t o1, o2, o3;
    FpAlg_RenewFeature(out.data(), &o1, &o2, &o3);
    return 0;
}

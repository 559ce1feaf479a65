// FpAlg_CreateTemplate16 on arbitrary images, samples out of the 10-bit
// range included; a template made must score against itself.
#include "fpalg_fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::vector<std::uint16_t> img(96 * 96, 0);
    std::memcpy(img.data(), data, std::min(size, img.size() * 2));
    fpalg_fuzz::Bytes t(FPALG_TEMPLATE_SIZE), scratch(FPALG_SCRATCH_SIZE), rec(FPALG_COUNT_RECORD_SIZE);
    if (FpAlg_CreateTemplate16(img.data(), scratch.data(), 96, 96, t.data(), rec.data()) == 1 &&
        FpAlg_MatchScore(t.data(), t.data()) <= 0)
        __builtin_trap();
    return 0;
}

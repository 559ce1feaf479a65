// Arbitrary 13824-byte sensor frames through the unpacker and the feature
// extraction with the real matching library. Shorter inputs are padded with
// zeros and longer ones cut: the transfer layer only ever hands over whole
// frames.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/alg/fpalg.h"
#include "engine/feature_extraction.h"
#include "fuzz/fuzz_env.h"
#include "protocol/sensor_frames.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzenv::setUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static uint8_t frame[VL_FRAME_SIZE];
    std::memset(frame, 0, sizeof frame);
    std::memcpy(frame, data, size < sizeof frame ? size : sizeof frame);

    // Every byte of the frame belongs to exactly one sample, so unpacking and
    // packing again gives the same bytes, and every sample has 12 bits.
    static uint16_t samples[VL_IMG_PIXELS];
    unpackFrame(frame, samples);
    for (uint16_t s : samples)
        if (s > 0x0FFF)
            abort();
    static uint8_t repacked[VL_FRAME_SIZE];
    packFrame(samples, repacked);
    if (std::memcmp(frame, repacked, sizeof frame) != 0)
        abort();

    static uint8_t feature[FPALG_TEMPLATE_SIZE];
    static uint8_t countRecord[FPALG_COUNT_RECORD_SIZE];
    CreateFingerPrintMinutiae(frame, feature, countRecord);
    return 0;
}

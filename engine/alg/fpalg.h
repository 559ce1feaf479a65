// The matching library's five calls, as the daemon uses them. The library is
// loaded as libfpalg.so; its template format is its own business.
#pragma once

#include <cstdint>

inline constexpr int FPALG_TEMPLATE_SIZE = 28000;
inline constexpr int FPALG_SCRATCH_SIZE = 18432;
inline constexpr int FPALG_COUNT_RECORD_SIZE = 40;
inline constexpr int FPALG_IMAGE_SIDE = 96;
// Scores above this are a match.
inline constexpr int FPALG_MATCH_THRESHOLD = 45;

extern "C" {
// Called once per process with 5.
int FpAlg_Init(int mode);
// Returns 1 when a template was made from the 96x96 image of 10-bit samples.
int16_t FpAlg_CreateTemplate16(const uint16_t *image, uint8_t *scratch, int width, int height, uint8_t *templ,
                               uint8_t *countRecord);
// Returns 0 when out holds A and B merged.
int16_t FpAlg_MergeFeature(const uint8_t *a, const uint8_t *b, uint8_t *out, int16_t *o1, int16_t *o2, int16_t *o3);
// Score of a probe against a stored template; above 45 is a match.
int16_t FpAlg_MatchScore(const uint8_t *stored, const uint8_t *probe);
// Renews the template of the last MatchScore above threshold with its probe;
// returns 0 when out holds the renewed template.
int16_t FpAlg_RenewFeature(uint8_t *out, int16_t *o1, int16_t *o2, int16_t *o3);
}

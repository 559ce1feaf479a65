// Status signals sent by the engine's workers (and by vlEnrollFp's refusals).
#pragma once

#include <cstdint>

// Results of the emitters: note that success is -1 here.
extern int32_t RES_SUCCESS; // -1
extern int32_t RES_FAILED;  // 0

int32_t vlSigEnrollStatus(const char *id, int32_t status, int32_t detail);
int32_t vlSigVerifyStatus(const char *id, int32_t status, int32_t detail);

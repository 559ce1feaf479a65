// Status signals sent by the engine's workers (and by vlEnrollFp's refusals).
#pragma once

#include <cstdint>

// Results of the emitters: note that success is -1 here.
extern int32_t RES_SUCCESS; // -1
extern int32_t RES_FAILED;  // 0

int32_t vlSigEnrollStatus(const char *id, int32_t status, int32_t detail);
int32_t vlSigVerifyStatus(const char *id, int32_t status, int32_t detail);
// The match of a VerifyUser run: (id, 0, "{finger:NAME}"), or an empty text
// when the finger's name is empty or not UTF-8 text.
int32_t vlSigVerifyMatch(const char *id, const char *finger);

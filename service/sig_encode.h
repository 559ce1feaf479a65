// How an engine event (user id, status, detail) becomes the three arguments
// of an EnrollStatus or VerifyStatus signal. Pure functions, so every row can
// be checked without a bus.
#pragma once

#include <cstdint>

// Room for "{finger:NAME}" with a finger name of up to 63 bytes.
inline constexpr int VL_SIG_TEXT_SIZE = 80;

struct VlSigArgs {
    const char *id;              // the caller's id or ""
    int32_t status;              // 0..4
    char text[VL_SIG_TEXT_SIZE]; // "", "{subcode:N}", "{progress:N}" or "{finger:NAME}"
};

void vlEncodeEnrollStatus(const char *id, int32_t status, int32_t detail, VlSigArgs *out);
void vlEncodeVerifyStatus(const char *id, int32_t status, int32_t detail, VlSigArgs *out);
// A VerifyUser match: status 0, the id, and the finger in the text.
void vlEncodeVerifyMatch(const char *id, const char *finger, VlSigArgs *out);

// Buffers shared by enrollment and verification. Only one worker runs at a
// time (see worker.h), which is what makes sharing them safe.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/alg/fpalg.h"

inline constexpr int VL_ENROLL_CAPTURES = 9;
inline constexpr int VL_FEATURE_SLOTS = 10;

extern char m_usrname[64];
extern char m_finger[64];
// The user whose templates the running verification compares; empty for
// every user's (Verify). The matched finger's name, for VerifyUser's signal.
extern char m_verifyUser[64];
extern char m_matchedFinger[64];

extern uint8_t m_opFeatureArr[VL_FEATURE_SLOTS * FPALG_TEMPLATE_SIZE];
extern uint8_t m_opnCharNumArr[VL_FEATURE_SLOTS * FPALG_COUNT_RECORD_SIZE];
extern uint8_t m_opFeatureLastMerge[FPALG_TEMPLATE_SIZE];
extern uint8_t m_opFeatureOut[FPALG_TEMPLATE_SIZE];
extern uint8_t m_opFeatureRecord[FPALG_TEMPLATE_SIZE];
extern uint8_t opnCharNum[FPALG_COUNT_RECORD_SIZE];

extern int m_enrol_stage;
// Written by the main thread's stop operations, read by the worker.
extern std::atomic<int> m_enrollExit;
extern std::atomic<int> m_verifyExit;

// Bounded copy of a NUL-terminated string into one of the 64-byte buffers.
// Returns false (and leaves dst empty) when src does not fit.
bool copyName(char (&dst)[64], const char *src);

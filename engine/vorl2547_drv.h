// Entry points of the fingerprint engine, called by the D-Bus front end on the
// main thread. Every result is 0 for success unless noted.
#pragma once

#include <cstdint>

// Size of the caller's name-list buffer for vlLstFp.
inline constexpr int VL_NAME_LIST_SIZE = 256;

// Device
int vlLstDev(int *count);
int vlOpenDev();
int vlCloseDev();

// Enrollment and verification; outcomes follow as status signals.
int vlEnrollFp(const char *id, const char *finger);
int vlStopEnroll();
int vlVerifyFp(const char *finger);
// Verification against one user's templates only, finger "any" (or "") for
// all of them, else exactly that finger; a match names the finger. -1 for an
// unsafe id or finger name, or while a worker runs.
int vlVerifyUserFp(const char *id, const char *finger);
int vlStopVerify();
// Stops a running enrollment or verification the way the two stop operations
// do and waits for its worker to end. Claim calls it before it closes or
// reopens the sensor, so that no transfer runs on a closed handle.
int vlStopWorker();
// True while an enrollment or verification worker has not ended.
bool vlRunActive();

// Template store
int vlLstFp(const char *id, char *nameList, int32_t *nameCount);
int vlDelFp(const char *id, const char *finger);
int vlDelAllFp(const char *id);
int vlRenameFp(const char *id, const char *finger, const char *newname);

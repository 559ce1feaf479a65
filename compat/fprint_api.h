// The names of fprintd's D-Bus API (net.reactivated.Fprint, version 1.94) and
// of the daemon underneath, and how the daemon's status signals read in it.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/run_status.h"

namespace fpcompat {

inline constexpr char FPRINT_NAME[] = "net.reactivated.Fprint";
inline constexpr char MANAGER_PATH[] = "/net/reactivated/Fprint/Manager";
inline constexpr char MANAGER_IFACE[] = "net.reactivated.Fprint.Manager";
inline constexpr char DEVICE_PATH[] = "/net/reactivated/Fprint/Device/0";
inline constexpr char DEVICE_IFACE[] = "net.reactivated.Fprint.Device";
inline constexpr char PROPERTIES_IFACE[] = "org.freedesktop.DBus.Properties";
inline constexpr char INTROSPECT_IFACE[] = "org.freedesktop.DBus.Introspectable";

inline constexpr char ERR_NO_SUCH_DEVICE[] = "net.reactivated.Fprint.Error.NoSuchDevice";
inline constexpr char ERR_CLAIM_DEVICE[] = "net.reactivated.Fprint.Error.ClaimDevice";
inline constexpr char ERR_ALREADY_IN_USE[] = "net.reactivated.Fprint.Error.AlreadyInUse";
inline constexpr char ERR_INTERNAL[] = "net.reactivated.Fprint.Error.Internal";
inline constexpr char ERR_PERMISSION_DENIED[] = "net.reactivated.Fprint.Error.PermissionDenied";
inline constexpr char ERR_NO_ENROLLED_PRINTS[] = "net.reactivated.Fprint.Error.NoEnrolledPrints";
inline constexpr char ERR_NO_ACTION[] = "net.reactivated.Fprint.Error.NoActionInProgress";
inline constexpr char ERR_INVALID_FINGER[] = "net.reactivated.Fprint.Error.InvalidFingername";
inline constexpr char ERR_PRINTS_NOT_DELETED[] = "net.reactivated.Fprint.Error.PrintsNotDeleted";

inline constexpr char ACTION_VERIFY[] = "net.reactivated.fprint.device.verify";
inline constexpr char ACTION_ENROLL[] = "net.reactivated.fprint.device.enroll";
inline constexpr char ACTION_SETUSERNAME[] = "net.reactivated.fprint.device.setusername";

inline constexpr char DAEMON_NAME[] = "com.vorlen.fprint";
inline constexpr char DAEMON_IFACE[] = "com.vorlen.fprint";
inline constexpr char DAEMON_PATH[] = "/com/vorlen";

// Nine accepted touches make a template.
inline constexpr int32_t ENROLL_STAGES = 9;
inline constexpr char DEVICE_NAME[] = "Vorl2547 fingerprint sensor (2541:2547)";

// One of the ten finger names of the API ("any" is not one).
bool isFingerName(const std::string &name);

// A status of the API as a client sees it.
struct FprintStatus {
    std::string result; // "verify-match", "enroll-stage-passed", ...
    bool done = false;
};

// A status signal of the daemon (id, status, text) in the API's words.
// verify: the VerifyStatus of a run for claimedUser; a match of anybody else
// is no match. enroll: EnrollStatus. Returns false for a signal that means
// nothing to a client of the API (none do today; kept for unknown codes).
bool translateVerify(const std::string &id, int32_t status, const std::string &claimedUser, FprintStatus &out);
bool translateEnroll(int32_t status, const std::string &text, FprintStatus &out);

// Whether the daemon's run is over after this status.
inline bool verifyRunEnds(int32_t status) { return status != VERIFY_RETRY; }
inline bool enrollRunEnds(int32_t status) { return status != ENROLL_STEP; }

} // namespace fpcompat

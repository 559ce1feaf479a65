// The codes of the daemon's EnrollStatus and VerifyStatus signals as they go
// on the bus: the status argument, and the K of a "{subcode:K}" text. The same
// number means different things in the two signals, so each has its own set.
// The engine passes these to the emitters, which encode them; the clients
// decode them.
#pragma once

#include <cstdint>

// EnrollStatus: the status argument.
enum EnrollCode : int32_t {
    ENROLL_DONE = 0,         // the template was saved
    ENROLL_REFUSED = 1,      // refused at the start, or stopped: the subcode says which
    ENROLL_STEP = 2,         // a capture was accepted: the text carries the progress
    ENROLL_FAILED = 3,       // encoded, but nothing in the daemon sends it
    ENROLL_SENSOR_ERROR = 4, // the capture command failed; sent for any status outside 0..3
};

// EnrollStatus: subcodes, which are also the details the engine passes with
// ENROLL_REFUSED (and ENROLL_FAILED).
enum EnrollSubcode : int32_t {
    ENROLL_SUB_EXISTS = 2,   // a finger of that name is stored already
    ENROLL_SUB_STOPPED = 3,  // the run was stopped (and any other detail)
    ENROLL_SUB_TOO_MANY = 4, // the user has ten fingers already
    ENROLL_SUB_FAILED = 7,   // ENROLL_FAILED with any other detail
};

// VerifyStatus: the status argument.
enum VerifyCode : int32_t {
    VERIFY_MATCH = 0,        // the id argument names whose finger it was
    VERIFY_NO_MATCH = 1,     // no match on the last try
    VERIFY_ENDED = 2,        // nothing stored to compare with, or stopped
    VERIFY_RETRY = 3,        // no match yet: touch again
    VERIFY_SENSOR_ERROR = 4, // the capture command failed; sent for any status outside 0..3
};

// VerifyStatus: subcodes.
enum VerifySubcode : int32_t {
    VERIFY_SUB_ENDED = 1,    // with VERIFY_ENDED
    VERIFY_SUB_NO_SCORE = 3, // with VERIFY_RETRY: no usable print, or a score of 0
    VERIFY_SUB_TOO_LOW = 5,  // with VERIFY_RETRY: it resembled a stored one too little
};

// VerifyStatus: the text of a VerifyUser match names the finger that
// matched, as "{finger:NAME}" (NAME runs up to the last "}"). Verify's
// matches keep the empty text.
inline constexpr char VERIFY_FINGER_TEXT[] = "{finger:";

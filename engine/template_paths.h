// Where templates live, and which client strings may become path components.
#pragma once

#include <cstddef>

// Every path the store forms fits this buffer (255 characters and the NUL).
inline constexpr std::size_t VL_PATH_SIZE = 256;
// User ids and finger names fit the 64-byte run buffers.
inline constexpr std::size_t VL_NAME_MAX = 63;
inline constexpr char VL_TEMPLATE_SUFFIX[] = ".Data";
inline constexpr std::size_t VL_TEMPLATE_SUFFIX_LEN = sizeof(VL_TEMPLATE_SUFFIX) - 1;
// A new finger's file name, suffix included, fits the same 64 bytes.
inline constexpr std::size_t VL_FINGER_NAME_MAX = VL_NAME_MAX - VL_TEMPLATE_SUFFIX_LEN;

// The template base directory, always ending in "/". Taken from
// VORL2547_TEMPLATE_DIR when set, so tests never touch the real store.
const char *templateBaseDir();

// A user id, finger name or new name may become a path component only when it
// is non-empty, is not "." or "..", holds no "/" and no control character and
// fits the 64-byte buffers.
// Names are never cut: a cut name could alias another user's.
bool isSafeName(const char *name);

// A safe name that may also name a new finger: its file name fits the
// 64-byte buffers, and it does not start with "." (the lister skips hidden
// files, so such a finger would never be listed).
bool isNewFingerName(const char *name);

// "<base><id>/" into buf; false when the id is unsafe or the path would not fit.
bool formatUserDir(char *buf, std::size_t size, const char *id);
// "<base><id>/<finger>.Data" into buf; false when a name is unsafe or the path
// would not fit.
bool formatTemplatePath(char *buf, std::size_t size, const char *id, const char *finger);

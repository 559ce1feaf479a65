// The daemon's rules for user ids and finger names, checked before a call so
// that a refusal can say which rule a name breaks (the daemon's own refusal
// is one fixed text for every reason).
#pragma once

#include <cstddef>
#include <string>

// A user id fits the daemon's 64-byte buffers (63 bytes).
inline constexpr std::size_t CTL_USER_MAX = 63;
// A finger name must leave room for ".Data" in the daemon's 64-byte search
// name, or delete and rename could never find it again.
inline constexpr std::size_t CTL_FINGER_MAX = 58;

// The daemon enrolls no more fingers for a user who has this many.
inline constexpr std::size_t CTL_MAX_FINGERS = 10;

// One sentence saying why `id` cannot be a user id; empty when it can.
std::string userIdProblem(const std::string &id);
// One sentence saying why `name` cannot name a new finger; empty when it can.
std::string fingerNameProblem(const std::string &name);

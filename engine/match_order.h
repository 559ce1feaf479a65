// The order in which one capture meets the stored templates. A match ends the
// comparison, so a touch is answered sooner the earlier its template comes:
// the fingers that matched most recently go first (on a personal machine,
// nearly always the one that touches next), the others keep the store's
// order. Only the verification worker uses it, one run at a time.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// A stored template: a user directory's name and a file name in it.
struct TemplateRef {
    std::string user;
    std::string file;
};

// How many recent matches are remembered.
inline constexpr std::size_t VL_RECENT_MATCHES = 16;

// Puts the most recently matched templates first, most recent foremost;
// the rest keep their relative order.
void orderByRecentMatches(std::vector<TemplateRef> &candidates);

// Remembers a match as the most recent one.
void noteMatch(const TemplateRef &matched);

// Forgets every match (tests).
void forgetMatches();

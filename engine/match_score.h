// The matching step of verification: one capture against the stored templates.
#pragma once

// Results besides a score of 0 to 45.
inline constexpr int VL_MATCH_FOUND = 100;
inline constexpr int VL_NO_USER = -10;
inline constexpr int VL_NO_TEMPLATE = -11;
inline constexpr int VL_NO_FINGER = -12;

// Which templates one capture is compared with.
struct MatchScope {
    // The finger filter: "any" or "" for every finger.
    const char *finger;
    // Only this user's directory, or every user's when empty. With a user the
    // filter names the finger exactly; without one, as Verify always has, it
    // selects the first file whose name begins with "<finger>.Data".
    const char *user;
};

// Extracts the probe from the capture ring and compares it with every stored
// template in scope, the likeliest first (see match_order.h). On a match the
// user id is copied into matchedId and the finger's name into matchedFinger
// (empty when it does not fit), and the result is 100.
int vlFpMatchScore(const MatchScope &scope, char (&matchedId)[64], char (&matchedFinger)[64]);

// Renews the template of the last match in its file, if the library renews
// it and the file is still there; a failure leaves the old template. Called
// once the match is announced, before any other comparison: the library
// renews the template it scored last above the threshold.
void vlRenewMatchedTemplate();

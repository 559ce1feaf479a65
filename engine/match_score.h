// The matching step of verification: one capture against the stored templates.
#pragma once

// Results besides a score of 0 to 45.
inline constexpr int VL_MATCH_FOUND = 100;
inline constexpr int VL_NO_USER = -10;
inline constexpr int VL_NO_TEMPLATE = -11;
inline constexpr int VL_NO_FINGER = -12;

// Extracts the probe from the capture ring and compares it with every stored
// template that passes the finger filter ("any" or "" for all). On a match the
// template is renewed in its file, the user id is copied into matchedId (64
// bytes) and the result is 100.
int vlFpMatchScore(const char *finger, char (&matchedId)[64]);

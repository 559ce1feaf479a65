// Turns one raw sensor frame into a template through the matching library.
#pragma once

#include <cstdint>

// frame: 13824 raw bytes; feature: 28000-byte template; countRecord: 40 bytes.
// Returns the library's result: 1 when a template was made.
int CreateFingerPrintMinutiae(const uint8_t *frame, uint8_t *feature, uint8_t *countRecord);

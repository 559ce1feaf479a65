// Who the sensor is on the bus: its USB vendor and product ids, and the
// prefix of the device IDs the daemon names it by.
#pragma once

#include <cstdint>

inline constexpr uint16_t VL_SENSOR_VID = 0x2541;
inline constexpr uint16_t VL_SENSOR_PID = 0x2547;

// A device ID is this prefix plus ".%02X" per port number, root port first.
inline constexpr char VL_DEV_ID_PREFIX[] = "Vorlen.Usb.0x2541.0x2547";

// The emulated sensor's control commands, one line each, as the control
// socket and in-process tests send them. The answer is one line starting
// with "ok" or "err".
//
//   place FILE           finger on: 8-bit PGM (>= 96x96, centre cut) or raw 13824-byte frame
//   place-finger N [K]   generated finger N, impression K (or 0, 1, 2, ... per frame)
//   lift                 finger off
//   place-empty          a frame with nothing on the sensor (a finger-down
//                        event without a finger, as real sensors send)
//   artefacts [level L] [gain G] [columns SIGMA] [noise SIGMA] [dead N] [half on|off] [none]
//                        real-sensor artefacts on every later frame; "ok" and all of them
//   delay MS             the next frame comes MS ms after its begin-capture frame
//   fault short|stall|ioerror   the next capture is answered with this instead
//   queue HEX            raw bytes for the IN endpoint, ahead of anything else
//   unplug | replug
//   commands             every OUT transfer so far: "ok N hex hex ..."
//   clear-commands
//   hold-writes on|off   OUT transfers stay pending while on
//   testbed              "ok DIR": the testbed's root, UMOCKDEV_DIR for another
//                        program (with libumockdev-preload) to reach the sensor
//   state                "ok plugged=1 claimed=0 driver=0 capturing=0 finger=0 frames=0"
#pragma once

#include <string>

#include "sim/sim_testbed.h"

namespace sim {

std::string runControl(Testbed &testbed, const std::string &line);

} // namespace sim
